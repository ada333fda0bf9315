#include "batch/terminaltext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void Hex(QByteArray& out, unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    out += text;
}

// The length of the valid UTF-8 sequence at i and its code point; 0 when
// the bytes there are not one (a stray continuation byte, an overlong form,
// a surrogate, a cut sequence).
int Sequence(const QByteArray& s, qsizetype i, char32_t& code) {
    const auto b = [&](qsizetype k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = b(i);
    int length;
    char32_t least;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (b(i + k) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool ReordersText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// What a name shows escaped, the backslash aside.
bool Unprintable(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || ReordersText(c);
}

// A character that no shell takes apart, in a word or at its start ("="
// begins a command's path in zsh).
bool PlainInShell(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("_-./,:+@%", c)) || (c == '=' && !first);
}

}  // namespace

QByteArray PrintableName(const QByteArray& name) {
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size();) {
        char32_t c = 0;
        const int length = Sequence(name, i, c);
        if (length == 0) {
            Hex(out, static_cast<unsigned char>(name[i]));
            ++i;
            continue;
        }
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == 0x1B) {
            out += "\\e";
        } else if (c < 0x20 || c == 0x7F) {
            Hex(out, static_cast<unsigned char>(c));
        } else if ((c >= 0x80 && c <= 0x9F) || ReordersText(c)) {
            char text[16];
            std::snprintf(text, sizeof text, "\\u{%04X}", static_cast<unsigned>(c));
            out += text;
        } else {
            out.append(name.constData() + i, length);
        }
        i += length;
    }
    return out;
}

QByteArray ShellQuoted(const QByteArray& word) {
    bool plain = !word.isEmpty();
    bool escaped = false;
    for (qsizetype i = 0; i < word.size() && !escaped;) {
        char32_t c = 0;
        const int length = Sequence(word, i, c);
        escaped = length == 0 || Unprintable(c);
        plain = plain && length == 1 && PlainInShell(word[i], i == 0);
        i += length;
    }
    if (plain && !escaped)
        return word;
    if (!escaped) {
        QByteArray quoted = word;
        return '\'' + quoted.replace('\'', "'\\''") + '\'';
    }
    QByteArray out = "$'";
    for (qsizetype i = 0; i < word.size();) {
        char32_t c = 0;
        const int length = Sequence(word, i, c);
        if (length == 0 || Unprintable(c)) {
            // Each byte of it, as \xHH.
            for (int k = 0; k < std::max(length, 1); ++k)
                Hex(out, static_cast<unsigned char>(word[i + k]));
            i += std::max(length, 1);
            continue;
        }
        if (c == '\\' || c == '\'')
            out += '\\';
        out.append(word.constData() + i, length);
        i += length;
    }
    return out + '\'';
}
