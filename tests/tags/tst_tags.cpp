// Tags carried into the results: WMA files that mkwma made with tags and
// pictures, converted by whole runs of the window with the real decoder and
// the real LAME, and the results read back with TagLib.
#include "app/form1.h"
#include "convert/mp3check.h"
#include "convert/staging.h"
#include "filelist/filelist.h"
#include "support/windowfixture.h"
#include "tags/tags.h"
#include "util/paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QtEndian>
#include <QtTest>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>

#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

// Frame or INFO id → what it holds, as text.
using Fields = QMap<QString, QString>;

QString Media(const QString& name) {
    return QStringLiteral(BRENVALE_TESTMEDIA_DIR "/") + name;
}

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString FromTagLib(const TagLib::String& s) {
    return QString::fromStdString(s.to8Bit(true));
}

// A picture as the tables name it: MIME type, picture type and checksum.
QString PictureText(const QString& mime, int type, const QByteArray& data) {
    return QStringLiteral("%1 type %2 md5 %3")
        .arg(mime)
        .arg(type)
        .arg(QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()));
}

// Every frame of an ID3v2 tag (none when there is no tag).
Fields FramesOf(TagLib::ID3v2::Tag* tag) {
    Fields fields;
    if (!tag)
        return fields;
    for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
        const QString id = QString::fromLatin1(frame->frameID().data(), 4);
        QString text = FromTagLib(frame->toString());
        if (auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame)) {
            text = QStringLiteral("[%1] %2").arg(QString::fromLatin1(comment->language().data(), 3),
                                                 FromTagLib(comment->text()));
        } else if (auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame)) {
            const TagLib::ByteVector data = picture->picture();
            text = PictureText(FromTagLib(picture->mimeType()), static_cast<int>(picture->type()),
                               QByteArray(data.data(), static_cast<qsizetype>(data.size())));
        }
        // A repeated frame shows as both texts, which no table expects.
        fields[id] = fields.contains(id) ? fields[id] + " | " + text : text;
    }
    return fields;
}

Fields FieldsOf(TagLib::RIFF::Info::Tag* tag) {
    Fields fields;
    if (!tag)
        return fields;
    const TagLib::RIFF::Info::FieldListMap map = tag->fieldListMap();
    for (auto it = map.begin(); it != map.end(); ++it)
        fields[QString::fromLatin1(it->first.data(), 4)] = FromTagLib(it->second);
    return fields;
}

int Id3Version(TagLib::ID3v2::Tag* tag) {
    return tag ? static_cast<int>(tag->header()->majorVersion()) : 0;
}

}  // namespace

Q_DECLARE_METATYPE(Fields)

class TestTags : public QObject {
    Q_OBJECT

private slots:
    void carriedIntoResult_data();
    void carriedIntoResult();
    void failedTagWriteKeepsResult_data();
    void failedTagWriteKeepsResult();
};

void TestTags::carriedIntoResult_data() {
    QTest::addColumn<QString>("medium");
    QTest::addColumn<ConversionFormat>("format");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("sourceHasPicture");
    QTest::addColumn<Fields>("id3");
    QTest::addColumn<Fields>("info");

    const QString cover =
        PictureText("image/png", 3, Contents(BRENVALE_SOURCE_DIR "/resources/icons/brenvale.png"));
    struct Medium {
        const char* row;
        const char* file;
        double seconds;
        bool sourceHasPicture;
        Fields id3;
        Fields info;
    };
    const Medium media[] = {
        {"every field",
         "tags_all.wma",
         2.0,
         true,
         {{"TIT2", "Evening Tide"},
          {"TPE1", "The Brenvale Players"},
          {"TPE2", "Brenvale Ensemble"},
          {"TALB", "Test Tones, Vol. 1"},
          {"TRCK", "3/12"},
          {"TPOS", "1/2"},
          {"TDRC", "2004"},
          {"TCON", "Ambient"},
          {"TCOM", "J. Composer"},
          {"COMM", "[eng] Made by mkwma for the tag tests"},
          {"TCOP", "2004 Brenvale"},
          {"APIC", cover}},
         {{"INAM", "Evening Tide"},
          {"IART", "The Brenvale Players"},
          {"IPRD", "Test Tones, Vol. 1"},
          {"IPRT", "3"},
          {"ITRK", "3"},
          {"ICRD", "2004"},
          {"IGNR", "Ambient"},
          {"ICMT", "Made by mkwma for the tag tests"},
          {"ICOP", "2004 Brenvale"}}},
        {"Unicode",
         "tags_unicode.wma",
         2.0,
         false,
         {{"TIT2", "Nocturne – Ελληνικά 夜の海 🌊"},
          {"TPE1", "Ивана Жукова"},
          {"TPE2", "Björk & Sigur Rós"},
          {"TALB", "東京 Sessions"},
          {"TRCK", "7"},
          {"TPOS", "2"},
          // Version 2.3 stores the date as TYER "1999" and TDAT "3112";
          // TagLib reads them back as one TDRC and an emptied TDAT.
          {"TDRC", "1999-12-31"},
          {"TDAT", ""},
          {"TCON", "Música Clásica"},
          {"TCOM", "Antonín Dvořák"},
          {"COMM", "[eng] Grüße aus Zürich ✓"},
          {"TCOP", "© 2021 Æsir Ørkester"}},
         {{"INAM", "Nocturne – Ελληνικά 夜の海 🌊"},
          {"IART", "Ивана Жукова"},
          {"IPRD", "東京 Sessions"},
          {"IPRT", "7"},
          {"ITRK", "7"},
          {"ICRD", "1999-12-31"},
          {"IGNR", "Música Clásica"},
          {"ICMT", "Grüße aus Zürich ✓"},
          {"ICOP", "© 2021 Æsir Ørkester"}}},
        {"no tags", "wmav2_stereo_44100.wma", 3.0, false, {}, {}},
        {"damaged picture",
         "tags_damaged_picture.wma",
         2.0,
         true,
         {{"TIT2", "Damaged Picture"}, {"TPE1", "Brenvale"}},
         {{"INAM", "Damaged Picture"}, {"IART", "Brenvale"}}},
        {"oversized picture",
         "tags_big_picture.wma",
         2.0,
         true,
         {{"TIT2", "Big Picture"}, {"TPE1", "Brenvale"}},
         {{"INAM", "Big Picture"}, {"IART", "Brenvale"}}},
    };
    for (const Medium& m : media) {
        QTest::addRow("%s, MP3", m.row)
            << m.file << ConversionFormat::MP3 << m.seconds << m.sourceHasPicture << m.id3 << Fields();
        QTest::addRow("%s, WAV", m.row)
            << m.file << ConversionFormat::WAV << m.seconds << m.sourceHasPicture << m.id3 << m.info;
    }
}

void TestTags::carriedIntoResult() {
    QFETCH(QString, medium);
    QFETCH(ConversionFormat, format);
    QFETCH(double, seconds);
    QFETCH(bool, sourceHasPicture);
    QFETCH(Fields, id3);
    QFETCH(Fields, info);

    WindowFixture w;
    w.start();
    w.load(BuildProgramFolder());
    w.form->setPauseMsForTests(1);
    const QString source = w.env->root() + "/in/song.wma";
    MakeFile(source, Contents(Media(medium)));
    // A row that expects no picture from a source with one must not pass
    // because the source lacks it.
    TagLib::ASF::File asf(QFile::encodeName(source).constData(), false);
    QCOMPARE(asf.isValid() && asf.tag()->contains("WM/Picture"), sourceHasPicture);

    const QString out = w.env->root() + "/out";
    QVERIFY(QDir().mkpath(out));
    AddToFileList(w.form->ListView1, source);
    (format == ConversionFormat::MP3 ? w.form->Option1 : w.form->Option2)->setChecked(true);
    w.form->Option3->setChecked(true);
    w.form->Text1->setText(out);
    w.form->PushButton2_Click();
    QCOMPARE(w.dialogs->messages(), QStringList({"Done."}));
    // Nothing of the tagging is left in the work folder.
    QCOMPARE(QDir(w.env->work()).entryList(QDir::Files | QDir::Hidden),
             QStringList({format == ConversionFormat::MP3 ? "working.mp3" : "working.wav"}));

    const QByteArray path =
        QFile::encodeName(out + (format == ConversionFormat::MP3 ? "/song.mp3" : "/song.wav"));
    if (format == ConversionFormat::MP3) {
        // The audio is whole behind the tag.
        const Mp3File audio = ReadMp3(QFile::decodeName(path));
        QVERIFY2(audio.error.isEmpty(), qPrintable(audio.error));
        QVERIFY(qAbs(audio.seconds - seconds) < 0.15);

        TagLib::MPEG::File mp3(path.constData(), false);
        QVERIFY(mp3.isValid());
        QVERIFY(!mp3.hasID3v1Tag() && !mp3.hasAPETag());
        TagLib::ID3v2::Tag* tag = mp3.hasID3v2Tag() ? mp3.ID3v2Tag() : nullptr;
        QCOMPARE(FramesOf(tag), id3);
        QCOMPARE(Id3Version(tag), id3.isEmpty() ? 0 : 3);
    } else {
        const QByteArray bytes = Contents(QFile::decodeName(path));
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
        TagLib::RIFF::WAV::File wav(path.constData(), true);
        QVERIFY(wav.isValid());
        QCOMPARE(wav.audioProperties()->sampleRate(), 44100);
        QCOMPARE(wav.audioProperties()->channels(), 2);
        QVERIFY(qAbs(wav.audioProperties()->sampleFrames() / 44100.0 - seconds) < 0.05);
        TagLib::ID3v2::Tag* tag = wav.hasID3v2Tag() ? wav.ID3v2Tag() : nullptr;
        QCOMPARE(FramesOf(tag), id3);
        QCOMPARE(Id3Version(tag), id3.isEmpty() ? 0 : 3);
        QCOMPARE(FieldsOf(wav.hasInfoTag() ? wav.InfoTag() : nullptr), info);
    }
}

void TestTags::failedTagWriteKeepsResult_data() {
    QTest::addColumn<QString>("medium");
    QTest::addColumn<bool>("mp3");
    // An MP3 that LAME made, and a canonical WAV file.
    QTest::newRow("MP3") << "mp3_renamed.wma" << true;
    QTest::newRow("WAV") << "source_stereo_44100.wav" << false;
}

// A disk that holds the result and its copy but not the picture: the tags
// cannot be written, and the result stays as it was.
void TestTags::failedTagWriteKeepsResult() {
    QFETCH(QString, medium);
    QFETCH(bool, mp3);
    if (::geteuid() != 0)
        QSKIP("mounting a small tmpfs needs root");

    TestEnvironment env;
    const QByteArray audio = Contents(Media(medium));
    QVERIFY(audio.size() > 10000);
    const QString folder = env.root() + "/small";
    QDir().mkpath(folder);
    const TmpfsMount disk(folder, "size=" + QString::number(2 * audio.size() / 1024 + 256) + "k,mode=0700");
    if (!disk.mounted())
        QSKIP(qPrintable("cannot mount a tmpfs: " + QString::fromLocal8Bit(std::strerror(errno))));
    const QString result = folder + (mp3 ? "/working.mp3" : "/working.wav");
    MakeFile(result, audio);
    QCOMPARE(Contents(result), audio);

    TrackTags tags;
    tags.title = "Too Big";
    tags.picture.mimeType = "image/png";
    tags.picture.data = QByteArray(1024 * 1024, 'p');
    const auto write = mp3 ? WriteMp3Tags : WriteWavTags;
    QVERIFY(!write(result, tags));
    QCOMPARE(Contents(result), audio);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({FileNameOfPath(result)}));

    // With room for them, the same tags are written.
    tags.picture.data.truncate(1000);
    QVERIFY(write(result, tags));
    QVERIFY(Contents(result).size() > audio.size() + 1000);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({FileNameOfPath(result)}));
}

QTEST_MAIN(TestTags)
#include "tst_tags.moc"
