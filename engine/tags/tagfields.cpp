#include "tags/tagfields.h"

#include <QHash>
#include <QStringList>

namespace {

// Every ASF name of the table, in lower case, with its row.
QHash<QString, const TagField*> FieldsByAsfName() {
    QHash<QString, const TagField*> fields;
    for (const TagField& field : kTagFields)
        for (const QString& name : QString::fromLatin1(field.asf).split(QLatin1Char('|')))
            fields.insert(name.toLower(), &field);
    return fields;
}

// The attributes that Windows Media encoders, Windows Media Player and the
// Windows Media SDK write about the file itself: the encoder and its
// settings, the kind of stream, the ids under which the player files it in
// its library. A converted result has another encoder and other settings.
const char* const kTechnicalAttributes[] = {
    "WMFSDKVersion",
    "WMFSDKNeeded",
    "IsVBR",
    "VBR Peak",
    "Buffer Average",
    "DeviceConformanceTemplate",
    "WM/EncodingSettings",
    "WM/EncodingTime",
    "WM/ToolName",
    "WM/ToolVersion",
    "WM/WMContentID",
    "WM/WMCollectionID",
    "WM/WMCollectionGroupID",
    "WM/MediaClassPrimaryID",
    "WM/MediaClassSecondaryID",
    "WM/WMShadowFileSourceFileType",
    "WM/WMShadowFileSourceDRMType",
    "WM/ContainerFormat",
    "WM/Codec",
    "WM/StreamTypeInfo",
    "WM/PeakBitrate",
    "WM/ASFPacketCount",
    "WM/ASFSecurityObjectsSize",
    "WM/ProtectionType",
    "WM/VideoFrameRate",
    "WM/VideoHeight",
    "WM/VideoWidth",
    "Is_Protected",
    "Is_Trusted",
    "HasAudio",
    "HasVideo",
    "HasImage",
    "HasScript",
    "HasAttachedImages",
    "HasArbitraryDataStream",
    "HasFileTransferStream",
    "Seekable",
    "Stridable",
    "Broadcast",
    "CanSkipBackward",
    "CanSkipForward",
    "Bitrate",
    "CurrentBitrate",
    "OptimalBitrate",
    "Duration",
    "FileSize",
    "NumberOfFrames",
    "Signature_Name",
    // The pixel aspect ratio of a video stream.
    "AspectRatioX",
    "AspectRatioY",
};

// The digital rights management attributes all start so, and so do the
// dynamic range values of a WMA stream that its encoder measured
// (WM/WMADRCPeakReference, WM/WMADRCAverageReference) and that Windows Media
// Player keeps beside them (WM/WMADRCPeakTarget, WM/WMADRCAverageTarget).
const char* const kTechnicalPrefixes[] = {"DRM_", "WM/WMADRC"};

}  // namespace

const TagField* FieldOfAsfName(const QString& name) {
    static const QHash<QString, const TagField*> fields = FieldsByAsfName();
    return fields.value(name.toLower(), nullptr);
}

const TagField* TotalFieldOf(const TagField& number) {
    if (number.kind != FieldKind::Number)
        return nullptr;
    for (const TagField& field : kTagFields)
        if (field.kind == FieldKind::Total && qstrcmp(field.id3, number.id3) == 0)
            return &field;
    return nullptr;
}

bool IsTechnicalAsfAttribute(const QString& name) {
    for (const char* prefix : kTechnicalPrefixes)
        if (name.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
            return true;
    for (const char* technical : kTechnicalAttributes)
        if (name.compare(QLatin1String(technical), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}
