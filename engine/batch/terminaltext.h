#pragma once
// Names, and command lines, as the batch shows them on a terminal. A file
// name may hold any byte but "/" and NUL: escape sequences that retitle the
// window or clear the screen, a newline that would split a line of the
// summary in two, bytes that are not UTF-8. Such names are shown escaped, as
// ls and git show them, so that every file stays one line and the terminal
// is never driven by a name.
#include <QByteArray>

// The name's bytes with every valid, printable UTF-8 character as it is and
// everything else escaped: "\n", "\t", "\e" and "\xHH" for control
// characters and bytes that are not UTF-8, "\u{XXXX}" for the characters
// that reorder text (bidirectional controls), "\\" for the backslash.
QByteArray PrintableName(const QByteArray& name);

// The word as a shell reads it back, for a command line to be pasted: as it
// is where no shell takes any of its characters apart ("--jobs=2",
// "out/Album"), else in single quotes ('Album B', 'it'\''s'). A word with a
// control character, bytes that are not UTF-8 or a character that reorders
// text is written as $'...' with those bytes escaped ($'Bj\xF6rk', as bash,
// zsh and ksh read it): pasted, it gives the very bytes, and shown, it never
// drives the terminal.
QByteArray ShellQuoted(const QByteArray& word);
