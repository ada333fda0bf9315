#include "batch/namepattern.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

// A word an alternative names a field with: lower-case letters only.
bool LooksLikeField(const QString& alternative) {
    static const QRegularExpression word(QStringLiteral("^[a-z]+$"));
    return word.match(alternative).hasMatch();
}

// A value as one component of a path: no "/" or control character in it,
// not "." or "..", no spaces at its ends.
QString Component(QString value) {
    value = value.trimmed();
    for (QChar& c : value)
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    if (!value.isEmpty() && value.count(QLatin1Char('.')) == value.size())
        return QStringLiteral("_");
    return value;
}

// A number padded with zeros to the width of total, and at least to width.
QString Padded(const QString& number, const QString& total, int width) {
    if (number.isEmpty())
        return QString();
    return number.rightJustified(std::max<int>(width, static_cast<int>(total.size())), QLatin1Char('0'));
}

// The fields a pattern may name, and their values.
const struct Field {
    const char* name;
    QString (*value)(const NameSource& s);
} kFields[] = {
    {"title", [](const NameSource& s) { return s.tags.value("title"); }},
    {"artist", [](const NameSource& s) { return s.tags.value("artist"); }},
    {"artists", [](const NameSource& s) { return s.tags.values("artist").join(QStringLiteral(", ")); }},
    {"albumartist",
     [](const NameSource& s) {
         const TrackTags& t = s.tags;
         if (!t.value("albumartist").trimmed().isEmpty())
             return t.value("albumartist");
         // A compilation's tracks have artists of their own.
         return t.value("compilation") == QLatin1String("1") ? QStringLiteral("Various Artists")
                                                             : t.value("artist");
     }},
    {"album", [](const NameSource& s) { return s.tags.value("album"); }},
    {"track",
     [](const NameSource& s) { return Padded(s.tags.value("tracknumber"), s.tags.value("totaltracks"), 2); }},
    {"disc",
     [](const NameSource& s) {
         // A set of one disc has no disc to tell apart.
         if (s.tags.value("totaldiscs") == QLatin1String("1"))
             return QString();
         return Padded(s.tags.value("discnumber"), s.tags.value("totaldiscs"), 1);
     }},
    {"tracktotal", [](const NameSource& s) { return s.tags.value("totaltracks"); }},
    {"disctotal", [](const NameSource& s) { return s.tags.value("totaldiscs"); }},
    {"year", [](const NameSource& s) { return s.tags.value("date").left(4); }},
    {"genre", [](const NameSource& s) { return s.tags.value("genre"); }},
    {"composer", [](const NameSource& s) { return s.tags.values("composer").join(QStringLiteral(", ")); }},
    {"filename", [](const NameSource& s) { return s.filename; }},
    {"folder", [](const NameSource&) { return QString(); }},  // its own components, see Render
};

const Field* FieldNamed(const QString& word) {
    for (const Field& field : kFields)
        if (word == QLatin1String(field.name))
            return &field;
    return nullptr;
}

}  // namespace

std::vector<std::pair<QString, QString>> NamePattern::Presets() {
    return {
        {QStringLiteral("album"),
         QStringLiteral("{albumartist|Unknown Artist}/{album|Unknown Album}/[{disc}-][{track} ]{title|filename}")},
        {QStringLiteral("flat"), QStringLiteral("{artist|Unknown Artist} - {title|filename}")},
    };
}

std::optional<NamePattern> NamePattern::Parse(const QString& given, QString* problem) {
    QString text = given;
    for (const auto& [name, pattern] : Presets())
        if (given == name)
            text = pattern;
    const auto bad = [problem](const QString& why) {
        *problem = why;
        return std::nullopt;
    };
    if (text.trimmed().isEmpty())
        return bad(QStringLiteral("--name needs a pattern"));
    NamePattern pattern;
    int group = -1;
    int groups = 0;
    QString literal;
    const auto flush = [&]() {
        if (!literal.isEmpty())
            pattern.parts_.push_back(Part{group, literal, {}, {}});
        literal.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('[')) {
            if (group >= 0)
                return bad(QStringLiteral("--name: an optional part [...] cannot hold another"));
            flush();
            group = groups++;
        } else if (c == QLatin1Char(']')) {
            if (group < 0)
                return bad(QStringLiteral("--name: \"]\" without \"[\""));
            flush();
            group = -1;
        } else if (c == QLatin1Char('{')) {
            const qsizetype end = text.indexOf(QLatin1Char('}'), i + 1);
            if (end < 0)
                return bad(QStringLiteral("--name: \"{\" without \"}\""));
            const QStringList alternatives = text.mid(i + 1, end - i - 1).split(QLatin1Char('|'));
            for (const QString& a : alternatives) {
                if (a.contains(QLatin1Char('{')) || a.contains(QLatin1Char('[')) || a.contains(QLatin1Char(']')))
                    return bad(QStringLiteral("--name: a field {...} cannot hold \"{\", \"[\" or \"]\""));
                if (LooksLikeField(a) && !FieldNamed(a))
                    return bad(QStringLiteral("--name: unknown field {%1}").arg(a));
            }
            if (!LooksLikeField(alternatives.first()))
                return bad(QStringLiteral("--name: {%1} does not begin with a field").arg(alternatives.join('|')));
            flush();
            std::vector<bool> isField;
            for (const QString& a : alternatives)
                isField.push_back(LooksLikeField(a));
            pattern.parts_.push_back(Part{group, QString(), alternatives, isField});
            i = end;
        } else if (c == QLatin1Char('}')) {
            return bad(QStringLiteral("--name: \"}\" without \"{\""));
        } else {
            literal += c;
        }
    }
    if (group >= 0)
        return bad(QStringLiteral("--name: \"[\" without \"]\""));
    flush();
    // Folders come only from the pattern's own "/", and each must be one.
    QString outline;
    for (const Part& part : pattern.parts_)
        outline += part.alternatives.isEmpty() ? part.text : QStringLiteral("x");
    if (outline.startsWith(QLatin1Char('/')) || outline.endsWith(QLatin1Char('/')))
        return bad(QStringLiteral("--name: the pattern names a result under --output (or beside its source): "
                                  "no \"/\" at its start or end"));
    for (const QString& folder : outline.split(QLatin1Char('/')))
        if (folder.isEmpty() || folder == QLatin1String(".") || folder == QLatin1String(".."))
            return bad(QStringLiteral("--name: \"%1\" is no folder of a pattern").arg(folder));
    return pattern;
}

std::optional<QStringList> NamePattern::Render(const NameSource& source) const {
    // The value of each field part (empty when none of its alternatives has
    // one), and whether each optional part is whole.
    std::vector<QString> values(parts_.size());
    std::vector<bool> whole;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& part = parts_[i];
        if (part.group >= static_cast<int>(whole.size()))
            whole.resize(static_cast<size_t>(part.group) + 1, true);
        if (part.alternatives.isEmpty())
            continue;
        for (size_t a = 0; a < part.isField.size(); ++a) {
            const QString& alternative = part.alternatives[static_cast<qsizetype>(a)];
            if (!part.isField[a]) {
                values[i] = Component(alternative);
            } else if (alternative == QLatin1String("folder")) {
                QStringList folders;
                for (const QString& folder : source.folder.split(QLatin1Char('/'), Qt::SkipEmptyParts))
                    folders << Component(folder);
                values[i] = folders.join(QLatin1Char('/'));
            } else {
                values[i] = Component(FieldNamed(alternative)->value(source));
            }
            if (!values[i].isEmpty())
                break;
        }
        if (values[i].isEmpty()) {
            if (part.group < 0)
                return std::nullopt;
            whole[static_cast<size_t>(part.group)] = false;
        }
    }
    QString path;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& part = parts_[i];
        if (part.group >= 0 && !whole[static_cast<size_t>(part.group)])
            continue;
        path += part.alternatives.isEmpty() ? part.text : values[i];
    }
    // Folders left empty by their values fall away; a name left empty
    // leaves the pattern unusable.
    const QStringList raw = path.split(QLatin1Char('/'));
    if (raw.last().trimmed().isEmpty())
        return std::nullopt;
    QStringList components;
    for (const QString& component : raw)
        if (!component.trimmed().isEmpty())
            components << component.trimmed();
    return components;
}
