// libFuzzer target for the ASF header checks. Besides running them on any
// input under the sanitizers, it checks that their answers agree with each
// other; a disagreement aborts like a crash.

#include "asf/asfheader.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AsfScan scan = ScanAsfHeader(data, size);
    const uint64_t headerSize = AsfHeaderObjectSize(data, size);

    if (scan == AsfScan::Ok || scan == AsfScan::Drm) {
        // A verdict on the header needs the whole Header Object, and only it:
        // the same bytes cut right after the header give the same verdict.
        Require(headerSize >= kAsfHeaderObjectFixedSize && headerSize <= size);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[headerSize]);
        std::memcpy(exact.get(), data, headerSize);
        Require(ScanAsfHeader(exact.get(), headerSize) == scan);
        // One byte less can never be a whole header.
        Require(ScanAsfHeader(exact.get(), headerSize - 1) == AsfScan::Damaged);
    }
    if (scan == AsfScan::NotAsf)
        Require(headerSize == 0);
    // Tags are only ever trusted in a header whose structure holds.
    if (ScanAsfTagObjects(data, size) == AsfTags::Ok)
        Require(scan == AsfScan::Ok || scan == AsfScan::Drm);
    if (headerSize > size)
        Require(scan == AsfScan::Damaged);
    // File Properties are only read from a Header Object that is all there.
    AsfFileProperties props;
    if (ReadAsfFileProperties(data, size, props))
        Require(headerSize >= kAsfHeaderObjectFixedSize && headerSize <= size);

    // The Data Object check on whatever follows the header, against a few
    // file lengths around the bytes present.
    if (headerSize != 0 && headerSize <= size) {
        const uint8_t* rest = data + headerSize;
        const size_t restSize = size - headerSize;
        const AsfScan whole = ScanAsfDataObject(restSize ? rest : nullptr, restSize, restSize);
        const AsfScan longer =
            ScanAsfDataObject(restSize ? rest : nullptr, restSize, uint64_t(restSize) * 2 + 1);
        // A Data Object that fits the file still fits a longer one, and one
        // cut short by the file is whole or cut short in a longer one.
        if (whole == AsfScan::Ok)
            Require(longer == AsfScan::Ok);
        if (whole == AsfScan::CutShort)
            Require(longer == AsfScan::Ok || longer == AsfScan::CutShort);
        ScanAsfDataObject(restSize ? rest : nullptr, restSize, ~uint64_t(0));
    }
    return 0;
}
