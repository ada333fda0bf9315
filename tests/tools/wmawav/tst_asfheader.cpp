// The ASF header scanner on hand-made buffers, and the header edits that
// mkwma applies to real files.

#include "mkwma/asfedit.h"
#include "asf/asfheader.h"

#include <QFile>
#include <QtTest>

#include <cstring>
#include <vector>

Q_DECLARE_METATYPE(AsfScan)
Q_DECLARE_METATYPE(EncryptionKind)

namespace {

using Bytes = std::vector<uint8_t>;

// A GUID in its usual text form, laid out as ASF stores it: the first three
// fields little-endian, the last eight bytes in order.
Bytes Guid(const char* text) {
    const QByteArray hex = QByteArray(text).replace("-", "");
    const QByteArray raw = QByteArray::fromHex(hex);
    Q_ASSERT(raw.size() == 16);
    Bytes g(raw.begin(), raw.end());
    std::swap(g[0], g[3]);
    std::swap(g[1], g[2]);
    std::swap(g[4], g[5]);
    std::swap(g[6], g[7]);
    return g;
}

const char* const kHeader = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
const char* const kData = "75B22636-668E-11CF-A6D9-00AA0062CE6C";
const char* const kFileProperties = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
const char* const kStreamProperties = "B7DC0791-A9B7-11CF-8EE6-00C00C205365";
const char* const kHeaderExtension = "5FBF03B5-A92E-11CF-8EE3-00C00C205365";
const char* const kReserved1 = "ABD3D211-A9BA-11CF-8EE6-00C00C205365";
const char* const kContentEncryption = "2211B3FB-BD23-11D2-B4B7-00A0C955FC6E";
const char* const kExtendedContentEncryption = "298AE614-2622-4C17-B935-DAE07EE9289C";
const char* const kAdvancedContentEncryption = "43058533-6981-49E6-9B74-AD12CB86D58C";

void Put64(Bytes& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An object with a correct size field around `body`.
Bytes Object(const char* guid, const Bytes& body = {}) {
    Bytes o = Guid(guid) + Bytes(8) + body;
    Put64(o, 16, o.size());
    return o;
}

// A Header Extension Object whose extension data is `children`.
Bytes HeaderExtension(const Bytes& children) {
    Bytes body = Guid(kReserved1) + Bytes{6, 0} + Bytes(4) + children;
    Put32(body, 18, uint32_t(children.size()));
    return Object(kHeaderExtension, body);
}

// A Header Object holding `children`, counting them as `count`.
Bytes Header(const Bytes& children, uint32_t count) {
    Bytes h = Guid(kHeader) + Bytes(8) + Bytes(4) + Bytes{1, 2} + children;
    Put64(h, 16, h.size());
    Put32(h, 24, count);
    return h;
}

Bytes Filler(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7);
    return b;
}

// The two objects every real header has, with some content.
Bytes Ordinary() {
    return Object(kFileProperties, Filler(80, 3)) + Object(kStreamProperties, Filler(54, 9));
}

Bytes ReadMedia(const char* name) {
    QFile f(QStringLiteral(WMAWAV_TESTMEDIA_DIR "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray d = f.readAll();
    return Bytes(d.begin(), d.end());
}

}  // namespace

class TestAsfHeader : public QObject {
    Q_OBJECT

private slots:
    void scanHeader_data();
    void scanHeader();
    void scanIgnoresBytesAfterTheHeader();
    void headerObjectSize_data();
    void headerObjectSize();
    void scanDataObject_data();
    void scanDataObject();
    void insertEncryptionIntoRealFile_data();
    void insertEncryptionIntoRealFile();
    void cutAndFlipRealFile_data();
    void cutAndFlipRealFile();
    void editsRefuseNonAsf();
};

void TestAsfHeader::scanHeader_data() {
    QTest::addColumn<Bytes>("buffer");
    QTest::addColumn<AsfScan>("expected");

    const Bytes ordinary = Ordinary();
    QTest::newRow("header without children") << Header({}, 0) << AsfScan::Ok;
    QTest::newRow("ordinary header") << Header(ordinary, 2) << AsfScan::Ok;
    QTest::newRow("ordinary header with an empty extension")
        << Header(ordinary + HeaderExtension({}), 3) << AsfScan::Ok;

    // The three encryption objects, where they count.
    QTest::newRow("content encryption")
        << Header(ordinary + Object(kContentEncryption, Filler(40, 1)), 3) << AsfScan::Drm;
    QTest::newRow("content encryption first")
        << Header(Object(kContentEncryption, Filler(40, 1)) + ordinary, 3) << AsfScan::Drm;
    QTest::newRow("extended content encryption")
        << Header(ordinary + Object(kExtendedContentEncryption, Filler(12, 2)), 3) << AsfScan::Drm;
    QTest::newRow("advanced encryption in the extension")
        << Header(ordinary + HeaderExtension(Object(kAdvancedContentEncryption, {0, 0})), 3) << AsfScan::Drm;
    QTest::newRow("advanced encryption after other extension objects")
        << Header(ordinary + HeaderExtension(Object(kStreamProperties, Filler(30, 4)) +
                                             Object(kAdvancedContentEncryption, {0, 0})),
                  3)
        << AsfScan::Drm;
    QTest::newRow("empty encryption object")
        << Header(ordinary + Object(kContentEncryption), 3) << AsfScan::Drm;
    QTest::newRow("encryption before a damaged object")
        << Header(Object(kContentEncryption, Filler(8, 1)) + Guid(kStreamProperties) +
                      Bytes{1, 0, 0, 0, 0, 0, 0, 0},
                  2)
        << AsfScan::Drm;

    // Where an encryption GUID does not count.
    QTest::newRow("advanced encryption at the top level")
        << Header(ordinary + Object(kAdvancedContentEncryption, {0, 0}), 3) << AsfScan::Ok;
    QTest::newRow("content encryption inside the extension")
        << Header(ordinary + HeaderExtension(Object(kContentEncryption, Filler(16, 5))), 3) << AsfScan::Ok;
    QTest::newRow("encryption GUID inside another object's body")
        << Header(Object(kFileProperties,
                         Guid(kContentEncryption) + Bytes{40, 0, 0, 0, 0, 0, 0, 0} + Filler(16, 1)),
                  1)
        << AsfScan::Ok;
    {
        // The advanced object lies in the extension object but past its
        // declared extension data.
        Bytes ext = HeaderExtension({}) + Object(kAdvancedContentEncryption, {0, 0});
        Put64(ext, 16, ext.size());
        QTest::newRow("advanced encryption past the extension data") << Header(ext, 1) << AsfScan::Ok;
    }

    // Not ASF at all.
    QTest::newRow("empty") << Bytes{} << AsfScan::NotAsf;
    QTest::newRow("text") << Bytes{'H', 'e', 'l',  'l', 'o', ',', ' ', 'w', 'o', 'r', 'l',
                                   'd', '!', '\n', 'X', 'Y', 'Z', '1', '2', '3', 'a', 'b',
                                   'c', 'd', 'e',  'f', 'g', 'h', 'i', 'j', 'k'}
                          << AsfScan::NotAsf;
    QTest::newRow("mp3 frame start") << Bytes{0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}
                                     << AsfScan::NotAsf;
    QTest::newRow("data object first") << Object(kData, Filler(40, 0)) << AsfScan::NotAsf;
    {
        Bytes h = Header(ordinary, 2);
        h[15] ^= 0x01;
        QTest::newRow("last GUID byte differs") << h << AsfScan::NotAsf;
    }
    QTest::newRow("three bytes, not a GUID prefix") << Bytes{0x31, 0x26, 0xB2} << AsfScan::NotAsf;

    // ASF, but cut short or inconsistent.
    const Bytes guid = Guid(kHeader);
    QTest::newRow("cut inside the GUID") << Bytes(guid.begin(), guid.begin() + 10) << AsfScan::Damaged;
    QTest::newRow("GUID only") << guid << AsfScan::Damaged;
    {
        const Bytes h = Header(ordinary, 2);
        QTest::newRow("cut inside the fixed part") << Bytes(h.begin(), h.begin() + 29) << AsfScan::Damaged;
        QTest::newRow("cut inside a child") << Bytes(h.begin(), h.end() - 1) << AsfScan::Damaged;
    }
    for (uint64_t size : {uint64_t(0), uint64_t(29)}) {
        Bytes h = Header({}, 0);
        Put64(h, 16, size);
        QTest::newRow(qPrintable(QString("header size %1").arg(size))) << h << AsfScan::Damaged;
    }
    for (uint64_t size : {uint64_t(31), uint64_t(0x7FFFFFFFFFFFFFFFull), ~uint64_t(0)}) {
        Bytes h = Header({}, 0);
        Put64(h, 16, size);
        QTest::newRow(qPrintable(QString("header size %1 past the buffer").arg(size)))
            << h << AsfScan::Damaged;
    }
    struct ChildSize {
        const char* name;
        uint64_t size;
    };
    for (const ChildSize& c :
         {ChildSize{"child size 0", 0}, ChildSize{"child size 23", 23},
          ChildSize{"child size past the header", 200}, ChildSize{"child size 2^63", 1ull << 63},
          ChildSize{"child size wrapping around", ~uint64_t(0) - 7},
          ChildSize{"child size all ones", ~uint64_t(0)}}) {
        Bytes children = Ordinary();
        Put64(children, 16, c.size);
        QTest::newRow(c.name) << Header(children, 2) << AsfScan::Damaged;
    }
    QTest::newRow("bytes left over after the last child")
        << Header(ordinary + Bytes(23, 0), 2) << AsfScan::Damaged;
    {
        Bytes ext = Object(kHeaderExtension, Filler(10, 0));
        QTest::newRow("extension shorter than its fixed part") << Header(ext, 1) << AsfScan::Damaged;
    }
    for (uint32_t dataSize : {uint32_t(1), uint32_t(0x7FFFFFFF), ~uint32_t(0)}) {
        Bytes ext = HeaderExtension({});
        Put32(ext, 42, dataSize);
        QTest::newRow(qPrintable(QString("extension data size %1 past the object").arg(dataSize)))
            << Header(ext, 1) << AsfScan::Damaged;
    }
    {
        Bytes inner = Object(kStreamProperties, Filler(8, 0));
        Put64(inner, 16, 100);
        QTest::newRow("extension child past the extension data")
            << Header(HeaderExtension(inner), 1) << AsfScan::Damaged;
    }
    {
        Bytes inner = Object(kStreamProperties, Filler(8, 0)) + Bytes(5, 0);
        QTest::newRow("extension data left over") << Header(HeaderExtension(inner), 1) << AsfScan::Damaged;
    }
}

void TestAsfHeader::scanHeader() {
    QFETCH(Bytes, buffer);
    QFETCH(AsfScan, expected);
    // A copy of exactly the buffer's length on the heap, so that the
    // sanitizers catch a read past its end.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[buffer.size() + 1]);
    if (!buffer.empty())
        std::memcpy(exact.get(), buffer.data(), buffer.size());
    QCOMPARE(ScanAsfHeader(buffer.empty() ? nullptr : exact.get(), buffer.size()), expected);
}

void TestAsfHeader::scanIgnoresBytesAfterTheHeader() {
    // The decoder passes the header followed by the start of the Data
    // Object; what follows the header must not be read as header objects.
    const Bytes header = Header(Ordinary(), 2);
    const Bytes data = Object(kData, Filler(26, 0));
    QCOMPARE(ScanAsfHeader((header + data).data(), header.size() + data.size()), AsfScan::Ok);
    const Bytes drmAfter = header + Object(kContentEncryption, Filler(8, 0));
    QCOMPARE(ScanAsfHeader(drmAfter.data(), drmAfter.size()), AsfScan::Ok);
}

void TestAsfHeader::headerObjectSize_data() {
    QTest::addColumn<Bytes>("buffer");
    QTest::addColumn<quint64>("expected");
    const Bytes h = Header(Ordinary(), 2);
    QTest::newRow("ordinary") << h << quint64(h.size());
    QTest::newRow("fixed part only") << Bytes(h.begin(), h.begin() + 30) << quint64(h.size());
    QTest::newRow("29 bytes") << Bytes(h.begin(), h.begin() + 29) << quint64(0);
    QTest::newRow("not a header") << Object(kData, Filler(30, 0)) << quint64(0);
    Bytes big = h;
    Put64(big, 16, ~uint64_t(0));
    QTest::newRow("largest size") << big << quint64(~uint64_t(0));
}

void TestAsfHeader::headerObjectSize() {
    QFETCH(Bytes, buffer);
    QFETCH(quint64, expected);
    QCOMPARE(quint64(AsfHeaderObjectSize(buffer.data(), buffer.size())), expected);
}

void TestAsfHeader::scanDataObject_data() {
    QTest::addColumn<Bytes>("buffer");
    QTest::addColumn<quint64>("bytesToEnd");
    QTest::addColumn<AsfScan>("expected");
    const Bytes data = Object(kData, Filler(26 + 3000, 0));
    const quint64 full = data.size();
    QTest::newRow("whole data object") << Bytes(data.begin(), data.begin() + 50) << full << AsfScan::Ok;
    QTest::newRow("more file after it")
        << Bytes(data.begin(), data.begin() + 50) << full + 4096 << AsfScan::Ok;
    QTest::newRow("cut short by one byte")
        << Bytes(data.begin(), data.begin() + 50) << full - 1 << AsfScan::CutShort;
    QTest::newRow("cut to half") << Bytes(data.begin(), data.begin() + 50) << full / 2 << AsfScan::CutShort;
    QTest::newRow("cut inside the fixed part")
        << Bytes(data.begin(), data.begin() + 40) << quint64(40) << AsfScan::Damaged;
    Bytes unknown = data;
    Put64(unknown, 16, 0);
    QTest::newRow("size unknown") << Bytes(unknown.begin(), unknown.begin() + 50) << full << AsfScan::Ok;
    Bytes tiny = data;
    Put64(tiny, 16, 49);
    QTest::newRow("size below the fixed part")
        << Bytes(tiny.begin(), tiny.begin() + 50) << full << AsfScan::Damaged;
    Bytes huge = data;
    Put64(huge, 16, ~uint64_t(0));
    QTest::newRow("size all ones") << Bytes(huge.begin(), huge.begin() + 50) << ~quint64(0) - 1
                                   << AsfScan::CutShort;
    QTest::newRow("nothing after the header") << Bytes{} << quint64(0) << AsfScan::Damaged;
    QTest::newRow("cut inside the size field")
        << Bytes(data.begin(), data.begin() + 20) << quint64(20) << AsfScan::Damaged;
    QTest::newRow("another object instead")
        << Object(kStreamProperties, Filler(30, 0)) << quint64(54) << AsfScan::Damaged;
}

void TestAsfHeader::scanDataObject() {
    QFETCH(Bytes, buffer);
    QFETCH(quint64, bytesToEnd);
    QFETCH(AsfScan, expected);
    QCOMPARE(ScanAsfDataObject(buffer.empty() ? nullptr : buffer.data(), buffer.size(), bytesToEnd),
             expected);
}

void TestAsfHeader::insertEncryptionIntoRealFile_data() {
    QTest::addColumn<EncryptionKind>("kind");
    QTest::newRow("content") << EncryptionKind::Content;
    QTest::newRow("extended content") << EncryptionKind::ExtendedContent;
    QTest::newRow("advanced content") << EncryptionKind::AdvancedContent;
}

void TestAsfHeader::insertEncryptionIntoRealFile() {
    QFETCH(EncryptionKind, kind);
    const Bytes original = ReadMedia("wmav2_stereo_44100.wma");
    QVERIFY2(!original.empty(), "test media missing");
    QCOMPARE(ScanAsfHeader(original.data(), original.size()), AsfScan::Ok);
    const auto before = ReadAsfLayout(original);
    QVERIFY(before.has_value());
    QVERIFY(before->headerExtension != 0);

    Bytes file = original;
    QVERIFY(InsertEncryptionObject(file, kind));
    QCOMPARE(ScanAsfHeader(file.data(), file.size()), AsfScan::Drm);
    const auto after = ReadAsfLayout(file);
    QVERIFY(after.has_value());
    const uint64_t grown = file.size() - original.size();
    QVERIFY(grown >= 24);
    QCOMPARE(after->headerSize, before->headerSize + grown);
    QCOMPARE(after->dataObjectSize, before->dataObjectSize);
    QCOMPARE(after->objectCount, before->objectCount + (kind == EncryptionKind::AdvancedContent ? 0 : 1));
    // The Data Object still starts right after the header and ends at the
    // end of the file, and File Properties' file size is the new size.
    QCOMPARE(ScanAsfDataObject(file.data() + after->headerSize, file.size() - after->headerSize,
                               file.size() - after->headerSize),
             AsfScan::Ok);
    QVERIFY(after->fileProperties != 0);
    uint64_t declared = 0;
    for (int i = 7; i >= 0; --i)
        declared = (declared << 8) | file[after->fileProperties + 40 + uint64_t(i)];
    QCOMPARE(declared, uint64_t(file.size()));
    // Everything after the header is untouched.
    QVERIFY(std::equal(original.begin() + std::ptrdiff_t(before->headerSize), original.end(),
                       file.begin() + std::ptrdiff_t(after->headerSize)));
}

void TestAsfHeader::cutAndFlipRealFile_data() {
    QTest::addColumn<int>("edit");
    QTest::addColumn<AsfScan>("header");
    QTest::addColumn<AsfScan>("dataObject");
    // edit: 0..2 cut points, 3..4 flips.
    QTest::newRow("cut inside the header") << 0 << AsfScan::Damaged << AsfScan::Damaged;
    QTest::newRow("cut after the header") << 1 << AsfScan::Ok << AsfScan::Damaged;
    QTest::newRow("cut mid-data") << 2 << AsfScan::Ok << AsfScan::CutShort;
    QTest::newRow("header GUID flipped") << 3 << AsfScan::NotAsf << AsfScan::Ok;
    QTest::newRow("object size flipped") << 4 << AsfScan::Damaged << AsfScan::Ok;
}

void TestAsfHeader::cutAndFlipRealFile() {
    QFETCH(int, edit);
    QFETCH(AsfScan, header);
    QFETCH(AsfScan, dataObject);
    const Bytes original = ReadMedia("wmav1_stereo_44100.wma");
    QVERIFY2(!original.empty(), "test media missing");
    const auto layout = ReadAsfLayout(original);
    QVERIFY(layout.has_value());
    Bytes file = original;
    switch (edit) {
        case 0:
            QVERIFY(CutFile(file, CutPoint::InsideHeader));
            break;
        case 1:
            QVERIFY(CutFile(file, CutPoint::AfterHeader));
            break;
        case 2:
            QVERIFY(CutFile(file, CutPoint::MidData));
            break;
        case 3:
            QVERIFY(FlipHeaderBytes(file, FlipTarget::HeaderGuid));
            break;
        case 4:
            QVERIFY(FlipHeaderBytes(file, FlipTarget::ObjectSize));
            break;
    }
    QCOMPARE(ScanAsfHeader(file.data(), file.size()), header);
    const size_t hs = size_t(layout->headerSize);
    const size_t avail = file.size() > hs ? file.size() - hs : 0;
    QCOMPARE(ScanAsfDataObject(avail ? file.data() + hs : nullptr, avail, avail), dataObject);
    if (edit <= 2)
        QVERIFY(file.size() < original.size());
    else
        QCOMPARE(file.size(), original.size());
}

void TestAsfHeader::editsRefuseNonAsf() {
    Bytes text = {'n', 'o', 't', ' ', 'a', 's', 'f'};
    text.resize(100, ' ');
    const Bytes copy = text;
    QVERIFY(!InsertEncryptionObject(text, EncryptionKind::Content));
    QVERIFY(!CutFile(text, CutPoint::MidData));
    QVERIFY(!FlipHeaderBytes(text, FlipTarget::ObjectSize));
    QVERIFY(text == copy);
    // A header without an extension object cannot take the advanced kind.
    Bytes plain = Header(Ordinary(), 2) + Object(kData, Filler(26, 0));
    const Bytes plainCopy = plain;
    QVERIFY(!InsertEncryptionObject(plain, EncryptionKind::AdvancedContent));
    QVERIFY(plain == plainCopy);
    QVERIFY(InsertEncryptionObject(plain, EncryptionKind::Content));
    QCOMPARE(ScanAsfHeader(plain.data(), plain.size()), AsfScan::Drm);
}

QTEST_APPLESS_MAIN(TestAsfHeader)
#include "tst_asfheader.moc"
