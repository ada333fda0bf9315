#pragma once
// A result's path made from its source's tags: `--name PATTERN`.
//
//   {field}              the field's value: title, artist (the first),
//                        artists (all, ", " between them), albumartist,
//                        album, track, disc, tracktotal, disctotal, year,
//                        genre, composer, filename, folder
//   {field|other|Text}   the first alternative that has a value; one that is
//                        not a single lower-case word is text of its own
//   [ ... ]              an optional part: left out when a field in it has
//                        no value
//   /                    between folders
//
// A field outside an optional part that has no value (and no alternative
// that has one) leaves the pattern unusable for that source: it is named as
// without a pattern, by its own file name. Values never make folders of
// their own: "/" and control characters in them become "_", and a value of
// dots only is "_".
#include "tags/tags.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// What a source's name can be made of.
struct NameSource {
    TrackTags tags;    // read for naming (TagScope::Naming)
    QString filename;  // the source's file name without its extension
    QString folder;    // its folder under the FOLDER argument ("" for none)
};

class NamePattern {
public:
    // The pattern in text, or a preset's name ("album", "flat"). nullopt,
    // with problem set, for a pattern that cannot be used.
    static std::optional<NamePattern> Parse(const QString& text, QString* problem);

    // The preset names with their patterns, for the help.
    static std::vector<std::pair<QString, QString>> Presets();

    // The result's path for source, without extension: its folders and its
    // file name, each one component; nullopt when a field it needs has no
    // value.
    std::optional<QStringList> Render(const NameSource& source) const;

private:
    struct Part {
        int group = -1;  // the optional part it stands in, or -1
        // Either text (alternatives empty) or a field with its alternatives,
        // each a field's name or text of its own.
        QString text;
        QStringList alternatives;
        std::vector<bool> isField;
    };
    std::vector<Part> parts_;
};
