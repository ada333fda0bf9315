# Turns a program's --help text into roff for its manual page, word for word,
# from the help's first option on (awk -f helptoman.awk < HELP):
#   "  -o, --output DIR    text" and the lines under it: a tagged paragraph
#       (.TP), the options in bold and the values they take in italics;
#   a line indented deeper than the option's text (one of a list, as the
#       formats under --to): a line of its own, indented as much deeper;
#   a paragraph after the options: a paragraph (.PP).
# A new option in the help is in the manual page with the next build.

# The text as roff prints it: a backslash and a hyphen are escaped, so an
# option prints as the ASCII that is typed, and a word that begins with "-"
# is never hyphenated; a line that would start with a control character does
# not.
function escape(text,    out, i, c, before) {
    out = ""
    before = " "
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        if (c == "\\")
            out = out "\\e"
        else if (c == "-")
            out = out (before ~ /[ ("]/ ? "\\%" : "") "\\-"
        else
            out = out c
        before = c
    }
    if (out ~ /^[.']/)
        out = "\\&" out
    return out
}

# "-o, --output DIR" as "\fB\-o\fR, \fB\-\-output\fR \fIDIR\fR".
function tag(text,    words, n, i, word, comma, out) {
    n = split(text, words, " ")
    out = ""
    for (i = 1; i <= n; i++) {
        word = words[i]
        comma = ""
        if (word ~ /,$/) {
            comma = ","
            word = substr(word, 1, length(word) - 1)
        }
        out = out (i > 1 ? " " : "") (word ~ /^-/ ? "\\fB" : "\\fI") escape(word) "\\fR" comma
    }
    return out
}

# An option's first line: its names and values, two spaces or more, its text.
/^  -/ {
    started = 1
    rest = substr($0, 3)
    gap = index(rest, "  ")
    names = gap ? substr(rest, 1, gap - 1) : rest
    text = gap ? substr(rest, gap) : ""
    sub(/^ +/, "", text)
    column = text == "" ? 0 : length($0) - length(text)  # where the option's text stands
    print ".TP"
    print tag(names)
    if (text != "")
        print escape(text)
    option = 1
    listed = 0
    next
}
!started { next }
/^ *$/ {
    option = 0
    paragraph = 1
    next
}
{
    match($0, /^ */)
    indent = RLENGTH
    if (option && indent == 0) {
        option = 0
        paragraph = 1
    }
    if (option) {
        if (column == 0)
            column = indent
        if (indent > column) {
            # A leading space makes roff start a new line, indented.
            print escape(substr($0, column + 1))
            listed = 1
        } else {
            if (listed)
                print ".br"
            listed = 0
            print escape(substr($0, indent + 1))
        }
        next
    }
    if (paragraph)
        print ".PP"
    paragraph = 0
    print escape($0)
}
