// Tags carried into the results: WMA files that mkwma made with tags and
// pictures, converted by whole runs of the window with the real decoder and
// the real LAME, and the results read back with TagLib.
#include "app/form1.h"
#include "support/mp3check.h"
#include "convert/conversion.h"
#include "filelist/filelist.h"
#include "support/windowfixture.h"
#include "tags/tags.h"
#include "runtime/pathhelpers.h"

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
#include <taglib/textidentificationframe.h>
#include <taglib/uniquefileidentifierframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
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

// A picture as the tables name it: MIME type, picture type, checksum and
// the description where it has one.
QString PictureText(const QString& mime, int type, const QByteArray& data, const QString& description = "") {
    return QStringLiteral("%1 type %2 md5 %3%4")
        .arg(mime)
        .arg(type)
        .arg(QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()),
             description.isEmpty() ? "" : " " + description);
}

// Every frame of an ID3v2 tag (none when there is no tag).
Fields FramesOf(TagLib::ID3v2::Tag* tag) {
    Fields fields;
    if (!tag)
        return fields;
    for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
        QString id = QString::fromLatin1(frame->frameID().data(), 4);
        QString text = FromTagLib(frame->toString());
        if (auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame)) {
            text = QStringLiteral("[%1] %2").arg(QString::fromLatin1(comment->language().data(), 3),
                                                 FromTagLib(comment->text()));
        } else if (auto* lyrics = dynamic_cast<TagLib::ID3v2::UnsynchronizedLyricsFrame*>(frame)) {
            text = QStringLiteral("[%1] %2").arg(QString::fromLatin1(lyrics->language().data(), 3),
                                                 FromTagLib(lyrics->text()));
        } else if (auto* user = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame)) {
            id += ":" + FromTagLib(user->description());
            text = FromTagLib(user->fieldList().back());
        } else if (auto* ufid = dynamic_cast<TagLib::ID3v2::UniqueFileIdentifierFrame*>(frame)) {
            id += ":" + FromTagLib(ufid->owner());
            text = QString::fromUtf8(ufid->identifier().data(), ufid->identifier().size());
        } else if (auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame)) {
            const TagLib::ByteVector data = picture->picture();
            text = PictureText(FromTagLib(picture->mimeType()), static_cast<int>(picture->type()),
                               QByteArray(data.data(), static_cast<qsizetype>(data.size())),
                               FromTagLib(picture->description()));
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

// What mkwma's "size:N" picture holds.
QByteArray SizedPng(int size) {
    return QByteArray("\x89PNG\r\n\x1a\n", 8).leftJustified(size, '\0');
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
          {"APIC", cover},
          {"USLT", "[eng] Tide comes in, tide goes out"},
          {"TPUB", "Brenvale Records"},
          {"TPE3", "A. Conductor"},
          {"TBPM", "96"},
          {"TSRC", "GBBRV0400003"},
          {"TIT3", "Low Water Mix"},
          {"TIT1", "Tide Songs"},
          {"TEXT", "L. Writer"},
          {"TDOR", "1999"},  // TORY in version 2.3, read back as TDOR
          {"TKEY", "Am"},
          {"TLAN", "eng"},
          {"TXXX:MOOD", "Calm"},
          {"TENC", "mkwma"},
          {"TSOP", "Brenvale Players, The"},
          {"TSOA", "Test Tones 1"},
          {"TSOT", "Evening Tide"},
          {"TSO2", "Ensemble, Brenvale"},
          {"TSOC", "Composer, J."},
          {"UFID:http://musicbrainz.org", "6c4e9a53-0a36-4b8b-8a3e-1c1b7a2d1e01"},
          {"TXXX:MusicBrainz Album Id", "0f8a3d1e-5b6c-4d7e-9f80-112233445566"},
          {"TXXX:MusicBrainz Artist Id", "aa11bb22-cc33-4d44-8e55-ff6677889900"},
          {"TXXX:MusicBrainz Album Artist Id", "bb22cc33-dd44-4e55-9f66-0077889900aa"},
          {"TXXX:MusicBrainz Release Group Id", "cc33dd44-ee55-4f66-a077-1188990011bb"},
          {"TXXX:MusicBrainz Work Id", "dd44ee55-ff66-4077-b188-2299001122cc"},
          {"TXXX:REPLAYGAIN_TRACK_GAIN", "-6.48 dB"},
          {"TXXX:REPLAYGAIN_TRACK_PEAK", "0.988525"},
          {"TXXX:REPLAYGAIN_ALBUM_GAIN", "-7.02 dB"},
          {"TXXX:REPLAYGAIN_ALBUM_PEAK", "0.999969"}},
         {{"INAM", "Evening Tide"},
          {"IART", "The Brenvale Players"},
          {"IPRD", "Test Tones, Vol. 1"},
          {"IPRT", "3"},
          {"ITRK", "3"},
          {"ICRD", "2004"},
          {"IGNR", "Ambient"},
          {"ICMT", "Made by mkwma for the tag tests"},
          {"ICOP", "2004 Brenvale"},
          {"ILNG", "eng"},
          {"ITCH", "mkwma"},
          {"IMUS", "J. Composer"},
          {"IWRI", "L. Writer"}}},
        // The first value first: it stands in the Extended Content
        // Description, after the Metadata Library's others.
        {"several values",
         "tags_multi.wma",
         2.0,
         true,
         {{"TIT2", "Many Values"},
          {"TCON", "G1/G2/G3"},
          {"TPE2", "A1/A2/A3"},
          {"APIC", PictureText("image/png", 3, Contents(BRENVALE_SOURCE_DIR "/resources/icons/brenvale.png"),
                               "Front") +
                       " | " + PictureText("image/png", 4, SizedPng(3000), "Back")}},
         {{"INAM", "Many Values"}, {"IGNR", "G1; G2; G3"}}},
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
          {"ICOP", "© 2021 Æsir Ørkester"},
          {"IMUS", "Antonín Dvořák"}}},
        // The names of taggers other than Windows Media Player; a technical
        // attribute and a binary one that must not come out.
        {"tagger names",
         "tags_taggers.wma",
         2.0,
         false,
         {{"TIT2", "Tagger Names"},
          {"TPE1", "Artist One/Artist Two/Artist Three"},
          {"TRCK", "2/3"},
          {"TPOS", "1/2"},
          {"TXXX:REPLAYGAIN_TRACK_GAIN", "-6.48 dB"},
          {"TXXX:REPLAYGAIN_TRACK_PEAK", "0.988525"},
          {"TXXX:REPLAYGAIN_ALBUM_GAIN", "-7.02 dB"},
          {"TXXX:REPLAYGAIN_ALBUM_PEAK", "0.999969"},
          {"POPM", "Windows Media Player 9 Series rating=196 counter=0"},
          {"TCMP", "1"},
          {"COMM", "[eng] Tagged by beets"},
          {"TXXX:DISCSUBTITLE", "Side A"},
          {"TXXX:SCRIPT", "Latn"},
          {"TXXX:ASIN", "B000BRENV1"},
          {"TXXX:WORK", "Tide Suite"},
          {"WOAR", "https://brenvale.example/players"},
          {"WXXX", "[] https://brenvale.example/"},
          {"TOPE", "The First Players"},
          {"TDOR", "1987"},                                     // TORY in version 2.3
          {"TIPL", "producer P. Roducer engineer E. Ngineer"},  // IPLS in version 2.3
          {"TXXX:MyLabel", "Blue Shelf"},
          {"TXXX:DISCOGS_RELEASE_ID", "123456"}},
         {{"INAM", "Tagger Names"},
          {"IART", "Artist One; Artist Two; Artist Three"},
          {"IPRT", "2"},
          {"ITRK", "2"},
          {"ICMT", "Tagged by beets"},
          {"IENG", "E. Ngineer"}}},
        // Tag objects as taggers other than TagLib write them: a value
        // stored twice is one, text is kept as written, the first of two
        // names in two letter cases is carried, a name with a zero
        // character and the SDK's attributes of the stream are not, and
        // beets' upper-case names are the fields they name.
        {"stored twice",
         "tags_stored_twice.wma",
         3.0,
         false,
         {{"TIT2", "Song"}, {"TPE1", "Ærtist/Second"}, {"TCON", "Rock/Pop"}},
         {{"INAM", "Song"}, {"IART", "Ærtist; Second"}, {"IGNR", "Rock; Pop"}}},
        {"SDK attributes",
         "tags_sdk.wma",
         3.0,
         false,
         {{"TIT2", "Lossless"}, {"TXXX:MyLabel", "Kept"}},
         {{"INAM", "Lossless"}}},
        {"beets' names",
         "tags_beets.wma",
         3.0,
         false,
         {{"TIT2", "Beets"},
          {"TDRC", "2004"},
          {"TBPM", "96"},
          {"TPUB", "Label"},
          {"TIT1", "Group"},
          {"USLT", "[eng] Words"},
          {"TPOS", "1/2"},
          {"TCON", "Jazz"}},
         {{"INAM", "Beets"}, {"ICRD", "2004"}, {"IGNR", "Jazz"}}},
        {"as written",
         "tags_as_written.wma",
         3.0,
         false,
         {{"TIT2", " Kept As Written "},
          {"USLT", "[eng]   First line, indented\nSecond line\n"},
          {"TALB", "Before"},
          {"TXXX:MyNote", "Trailing"},
          {"TXXX:MyField", "first"},
          {"TRCK", "3"}},
         {{"INAM", " Kept As Written "}, {"IPRD", "Before"}, {"IPRT", "3"}, {"ITRK", "3"}}},
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
    // TagLib's ASF reader alone does not look behind the ID3 tag.
    QTest::addRow("behind an ID3 tag, MP3")
        << "tags_all_id3.wma" << ConversionFormat::MP3 << 2.0 << false << media[0].id3 << Fields();
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
    // Nothing of the tagging, nor of the run, is left in the work folder.
    QCOMPARE(QDir(w.env->work()).entryList(QDir::Files | QDir::Hidden), QStringList());

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
    tags.fields["title"] = QStringList("Too Big");
    tags.pictures = {{QByteArray(1024 * 1024, 'p'), "image/png", "", 3}};
    const auto write = mp3 ? WriteMp3Tags : WriteWavTags;
    QVERIFY(!write(result, tags));
    QCOMPARE(Contents(result), audio);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({FileNameOfPath(result)}));

    // With room for them, the same tags are written.
    tags.pictures[0].data.truncate(1000);
    QVERIFY(write(result, tags));
    QVERIFY(Contents(result).size() > audio.size() + 1000);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({FileNameOfPath(result)}));
}

QTEST_MAIN(TestTags)
#include "tst_tags.moc"
