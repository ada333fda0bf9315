#pragma once
// The names results get on the file system that holds them. FAT and exFAT,
// the file systems of memory sticks, phone cards and car stereos' media,
// refuse characters that Linux names may hold, take names equal but for
// letter case as one name, and take no bytes that are not UTF-8; every file
// system has a longest name. The rules here turn a name into one such a
// file system takes, number a name (" (2)") and shorten it to fit, all in
// one place, so that the plan, the save and the numbering agree.
#include <QByteArray>
#include <QByteArrayView>

// What the file system of an output folder takes.
struct NameRules {
    // Names equal but for letter case are one name there.
    bool foldsCase = false;
    // Names are made portable: see PortableName.
    bool portable = false;
    // Only ASCII names are taken (some FAT drivers take no other): letters
    // lose their accents, other characters become "_".
    bool asciiOnly = false;
    // The longest name in bytes.
    int longestName = 255;
};

// The name as a file system of Windows' kind takes it: bytes that are not
// UTF-8 read as Windows-1252 (the encoding of names from Windows archives)
// and written as UTF-8; the characters such file systems refuse replaced by
// a visible stand-in (" by ', control characters and * / : < > ? \ | by _);
// trailing dots and spaces dropped; a name that Windows keeps for a device
// (CON, NUL, COM1 ...) followed by "_"; an empty name "_". One component of
// a path: a folder's name, or a file name without its extension. With
// asciiOnly, letters lose their accents ("Björk" gives "Bjork") and every
// other character that is not ASCII becomes "_".
QByteArray PortableName(QByteArrayView name, bool asciiOnly = false);

// A result's name: stem, " (k)" for k above 1, then extension, with the
// stem shortened (never inside a character) so that the whole fits in
// longest bytes. The extension and the number are always kept.
QByteArray NumberedName(QByteArrayView stem, int k, QByteArrayView extension, int longest = 255);

// A folder's name shortened to fit in longest bytes, likewise.
QByteArray FittedName(QByteArrayView name, int longest);

// The stem and the extension of a file name: the extension begins at the
// last "." unless that is the name's first character.
QByteArrayView StemOf(QByteArrayView name);
QByteArrayView ExtensionOf(QByteArrayView name);

// What tells names apart on a file system that folds case: the name folded
// (Unicode case folding; ASCII only for bytes that are not UTF-8). Folding
// more than a file system does only numbers a name that needed none.
QByteArray CaseKey(QByteArrayView name);
