#pragma once
// The fields that a conversion carries, apart from any one tag format: one
// row per field, with the ASF attribute names it is read under and the place
// it takes in each kind of result. Reading a WMA file fills the fields
// (tags/asftags.cpp); writing a result takes them from there (tags/tags.cpp).
//
// The ASF names are those that Windows Media Player, MusicBrainz Picard,
// foobar2000, Mp3tag, MediaMonkey and beets write; they are matched without
// regard to letter case. The ID3 frames are those that Picard writes into an
// ID3v2.3 tag, the RIFF INFO ids those that INFO lists have for the field.
#include <QString>

// How a field's values are read, checked and kept.
enum class FieldKind {
    Text,     // text (a number value as its digits), every value
    First,    // text of which a result takes the first value only
    Url,      // a web address
    Number,   // a track or disc number from 1 to 65535; "3/12" brings the total with it
    Total,    // the number of tracks or discs, at least the number
    Date,     // "YYYY", "YYYY-MM" or "YYYY-MM-DD", from the start of the text
    Rating,   // Windows Media Player's 0 to 99, kept as one to five stars
    Flag,     // a yes or no (BOOL, a number, or "1", "true", "yes"), kept as "1" for yes
    Picture,  // WM/Picture values, kept as TrackTags::pictures
};

struct TagField {
    const char* key;  // the field's name in TrackTags::fields
    FieldKind kind;
    // The ASF attribute names, "|" between them: the first name that has a
    // usable value gives the field, so a file that holds a field under two
    // names gives it once.
    const char* asf;
    // The ID3v2.3 frame: a frame id, "TXXX:" and the description of a user
    // text frame, "UFID:" and the owner of an identifier, or "TIPL:" and the
    // role in the involved-people list (which version 2.3 calls IPLS).
    const char* id3;
    const char* info;  // RIFF INFO ids, "|" between them; nullptr: INFO has none
};

inline constexpr TagField kTagFields[] = {
    {"title", FieldKind::Text, "Title", "TIT2", "INAM"},
    {"artist", FieldKind::Text, "Author", "TPE1", "IART"},
    {"albumartist", FieldKind::Text, "WM/AlbumArtist|ALBUM ARTIST|ALBUMARTIST", "TPE2", nullptr},
    {"album", FieldKind::Text, "WM/AlbumTitle", "TALB", "IPRD"},
    // WM/Track, an older attribute, counts from 0. The track number has no id
    // of the INFO list itself; readers take it from IPRT (TagLib, FFmpeg) or
    // ITRK (others).
    {"tracknumber", FieldKind::Number, "WM/TrackNumber|WM/Track", "TRCK", "IPRT|ITRK"},
    {"totaltracks", FieldKind::Total, "TotalTracks|TrackTotal|WM/TrackTotal", "TRCK", nullptr},
    {"discnumber", FieldKind::Number, "WM/PartOfSet", "TPOS", nullptr},
    {"totaldiscs", FieldKind::Total, "TotalDiscs|DiscTotal|WM/DiscTotal", "TPOS", nullptr},
    // Saved as version 2.3, the date becomes TYER (and TDAT for a full date).
    {"date", FieldKind::Date, "WM/Year", "TDRC", "ICRD"},
    {"genre", FieldKind::Text, "WM/Genre|WM/GenreID", "TCON", "IGNR"},
    {"composer", FieldKind::Text, "WM/Composer", "TCOM", "IMUS"},
    {"lyricist", FieldKind::Text, "WM/Writer|LYRICIST", "TEXT", "IWRI"},
    {"conductor", FieldKind::Text, "WM/Conductor", "TPE3", nullptr},
    {"remixer", FieldKind::Text, "WM/ModifiedBy|WM/REMIXERS|MIXARTIST", "TPE4", nullptr},
    {"comment", FieldKind::First, "Description|WM/Comments", "COMM", "ICMT"},
    {"copyright", FieldKind::Text, "Copyright", "TCOP", "ICOP"},
    {"lyrics", FieldKind::First, "WM/Lyrics", "USLT", nullptr},
    {"label", FieldKind::Text, "WM/Publisher", "TPUB", nullptr},
    {"bpm", FieldKind::Text, "WM/BeatsPerMinute", "TBPM", nullptr},
    {"isrc", FieldKind::Text, "WM/ISRC", "TSRC", nullptr},
    {"subtitle", FieldKind::Text, "WM/SubTitle|Subtitle", "TIT3", nullptr},
    // TSST came with version 2.4, and TagLib drops it from a 2.3 tag.
    {"discsubtitle", FieldKind::Text, "WM/SetSubTitle|SETSUBTITLE|DISCSUBTITLE", "TXXX:DISCSUBTITLE",
     nullptr},
    {"grouping", FieldKind::Text, "WM/ContentGroupDescription", "TIT1", nullptr},
    {"work", FieldKind::Text, "WM/Work|WORK", "TXXX:WORK", nullptr},
    {"key", FieldKind::Text, "WM/InitialKey|INITIALKEY", "TKEY", nullptr},
    {"language", FieldKind::Text, "WM/Language", "TLAN", "ILNG"},
    // TMOO came with version 2.4, and TagLib drops it from a 2.3 tag.
    {"mood", FieldKind::Text, "WM/Mood", "TXXX:MOOD", nullptr},
    {"media", FieldKind::Text, "WM/Media|MEDIATYPE", "TMED", "IMED"},
    {"script", FieldKind::Text, "WM/Script|SCRIPT", "TXXX:SCRIPT", nullptr},
    {"encodedby", FieldKind::Text, "WM/EncodedBy", "TENC", "ITCH"},
    {"catalognumber", FieldKind::Text, "WM/CatalogNo|CATALOGNUMBER", "TXXX:CATALOGNUMBER", nullptr},
    {"barcode", FieldKind::Text, "WM/Barcode|BARCODE", "TXXX:BARCODE", nullptr},
    {"asin", FieldKind::Text, "ASIN|MusicBrainz/ASIN", "TXXX:ASIN", nullptr},
    {"artists", FieldKind::Text, "WM/ARTISTS|ARTISTS", "TXXX:ARTISTS", nullptr},
    {"albumartists", FieldKind::Text, "WM/AlbumArtists", "TXXX:ALBUMARTISTS", nullptr},
    {"director", FieldKind::Text, "WM/Director", "TXXX:DIRECTOR", nullptr},
    {"netradiostation", FieldKind::Text, "WM/RadioStationName|NETRADIOSTATION", "TRSN", nullptr},
    {"netradioowner", FieldKind::Text, "WM/RadioStationOwner|NETRADIOOWNER", "TRSO", nullptr},
    {"compilation", FieldKind::Flag, "WM/IsCompilation|COMPILATION", "TCMP", nullptr},
    {"rating", FieldKind::Rating, "WM/SharedUserRating", "POPM", nullptr},
    // ID3v2.3 has no sort order frames of its own; these are the ones that
    // iTunes introduced and that taggers and players use in 2.3 as in 2.4.
    {"artistsort", FieldKind::Text, "WM/ArtistSortOrder|ARTISTSORT", "TSOP", nullptr},
    {"albumsort", FieldKind::Text, "WM/AlbumSortOrder|ALBUMSORT", "TSOA", nullptr},
    {"titlesort", FieldKind::Text, "WM/TitleSortOrder|TITLESORT", "TSOT", nullptr},
    {"albumartistsort", FieldKind::Text, "WM/AlbumArtistSortOrder|ALBUMARTISTSORT", "TSO2", nullptr},
    {"composersort", FieldKind::Text, "WM/ComposerSortOrder|COMPOSERSORT", "TSOC", nullptr},
    {"originalartist", FieldKind::Text, "WM/OriginalArtist|ORIGARTIST", "TOPE", nullptr},
    {"originalalbum", FieldKind::Text, "WM/OriginalAlbumTitle|ORIGALBUM", "TOAL", nullptr},
    {"originallyricist", FieldKind::Text, "WM/OriginalLyricist|ORIGLYRICIST", "TOLY", nullptr},
    {"originalfilename", FieldKind::Text, "WM/OriginalFilename|ORIGFILENAME", "TOFN", nullptr},
    // Version 2.3 keeps the year alone.
    {"originaldate", FieldKind::Date, "WM/OriginalReleaseTime|WM/OriginalReleaseYear|ORIGYEAR", "TORY",
     nullptr},
    {"producer", FieldKind::Text, "WM/Producer", "TIPL:producer", nullptr},
    {"engineer", FieldKind::Text, "WM/Engineer", "TIPL:engineer", "IENG"},
    {"mixer", FieldKind::Text, "WM/Mixer", "TIPL:mix", nullptr},
    {"djmixer", FieldKind::Text, "WM/DJMixer", "TIPL:DJ-mix", nullptr},
    {"arranger", FieldKind::Text, "WM/Arranger|beets/Arranger", "TIPL:arranger", nullptr},
    {"website", FieldKind::Url, "WM/AuthorURL|WWWARTIST", "WOAR", nullptr},
    {"filewebpage", FieldKind::Url, "WM/AudioFileURL|WWWAUDIOFILE", "WOAF", nullptr},
    {"sourcewebpage", FieldKind::Url, "WM/AudioSourceURL|WWWAUDIOSOURCE", "WOAS", nullptr},
    {"license", FieldKind::Url, "CopyrightURL|WWWCOPYRIGHT", "WCOP", nullptr},
    {"commercialwebpage", FieldKind::Url, "WM/PromotionURL|WWWCOMMERCIALINFO", "WCOM", nullptr},
    {"url", FieldKind::Url, "WM/UserWebURL|WM/URL|WWW", "WXXX", nullptr},
    {"musicbrainz_recordingid", FieldKind::First, "MusicBrainz/Track Id|MUSICBRAINZ_TRACKID",
     "UFID:http://musicbrainz.org", nullptr},
    {"musicbrainz_trackid", FieldKind::Text, "MusicBrainz/Release Track Id|MUSICBRAINZ_RELEASETRACKID",
     "TXXX:MusicBrainz Release Track Id", nullptr},
    {"musicbrainz_albumid", FieldKind::Text, "MusicBrainz/Album Id|MUSICBRAINZ_ALBUMID",
     "TXXX:MusicBrainz Album Id", nullptr},
    {"musicbrainz_artistid", FieldKind::Text, "MusicBrainz/Artist Id|MUSICBRAINZ_ARTISTID",
     "TXXX:MusicBrainz Artist Id", nullptr},
    {"musicbrainz_albumartistid", FieldKind::Text, "MusicBrainz/Album Artist Id|MUSICBRAINZ_ALBUMARTISTID",
     "TXXX:MusicBrainz Album Artist Id", nullptr},
    {"musicbrainz_releasegroupid", FieldKind::Text, "MusicBrainz/Release Group Id|MUSICBRAINZ_RELEASEGROUPID",
     "TXXX:MusicBrainz Release Group Id", nullptr},
    {"musicbrainz_workid", FieldKind::Text, "MusicBrainz/Work Id|MUSICBRAINZ_WORKID",
     "TXXX:MusicBrainz Work Id", nullptr},
    {"musicbrainz_discid", FieldKind::Text, "MusicBrainz/Disc Id|MUSICBRAINZ_DISCID",
     "TXXX:MusicBrainz Disc Id", nullptr},
    {"musicbrainz_composerid", FieldKind::Text, "MusicBrainz/Composer Id", "TXXX:MusicBrainz Composer Id",
     nullptr},
    {"musicbrainz_originalalbumid", FieldKind::Text, "MusicBrainz/Original Album Id",
     "TXXX:MusicBrainz Original Album Id", nullptr},
    {"musicbrainz_originalartistid", FieldKind::Text, "MusicBrainz/Original Artist Id",
     "TXXX:MusicBrainz Original Artist Id", nullptr},
    {"musicbrainz_trmid", FieldKind::Text, "MusicBrainz/TRM Id", "TXXX:MusicBrainz TRM Id", nullptr},
    {"releasestatus", FieldKind::Text, "MusicBrainz/Album Status|MUSICBRAINZ_ALBUMSTATUS",
     "TXXX:MusicBrainz Album Status", nullptr},
    {"releasetype", FieldKind::Text, "MusicBrainz/Album Type|MUSICBRAINZ_ALBUMTYPE",
     "TXXX:MusicBrainz Album Type", nullptr},
    {"releasecountry", FieldKind::Text, "MusicBrainz/Album Release Country|MUSICBRAINZ_ALBUMRELEASECOUNTRY",
     "TXXX:MusicBrainz Album Release Country", nullptr},
    {"albumcomment", FieldKind::Text, "MusicBrainz/Album Comment", "TXXX:MusicBrainz Album Comment", nullptr},
    {"musicip_puid", FieldKind::Text, "MusicIP/PUID", "TXXX:MusicIP PUID", nullptr},
    {"acoustid_id", FieldKind::Text, "Acoustid/Id|ACOUSTID_ID", "TXXX:Acoustid Id", nullptr},
    {"acoustid_fingerprint", FieldKind::Text, "Acoustid/Fingerprint|ACOUSTID_FINGERPRINT",
     "TXXX:Acoustid Fingerprint", nullptr},
    // The upper-case names as Picard and Mp3tag write them, foobar2000's in
    // lower case (the same name when letter case does not count), and the
    // names of older Windows Media tools.
    {"replaygain_track_gain", FieldKind::Text, "REPLAYGAIN_TRACK_GAIN|ReplayGain/Track",
     "TXXX:REPLAYGAIN_TRACK_GAIN", nullptr},
    {"replaygain_track_peak", FieldKind::Text, "REPLAYGAIN_TRACK_PEAK|ReplayGain/Track Peak",
     "TXXX:REPLAYGAIN_TRACK_PEAK", nullptr},
    {"replaygain_track_range", FieldKind::Text, "REPLAYGAIN_TRACK_RANGE", "TXXX:REPLAYGAIN_TRACK_RANGE",
     nullptr},
    {"replaygain_album_gain", FieldKind::Text, "REPLAYGAIN_ALBUM_GAIN|ReplayGain/Album",
     "TXXX:REPLAYGAIN_ALBUM_GAIN", nullptr},
    {"replaygain_album_peak", FieldKind::Text, "REPLAYGAIN_ALBUM_PEAK|ReplayGain/Album Peak",
     "TXXX:REPLAYGAIN_ALBUM_PEAK", nullptr},
    {"replaygain_album_range", FieldKind::Text, "REPLAYGAIN_ALBUM_RANGE", "TXXX:REPLAYGAIN_ALBUM_RANGE",
     nullptr},
    {"replaygain_reference_loudness", FieldKind::Text, "REPLAYGAIN_REFERENCE_LOUDNESS",
     "TXXX:REPLAYGAIN_REFERENCE_LOUDNESS", nullptr},
    {"picture", FieldKind::Picture, "WM/Picture", "APIC", nullptr},
};

// The row that reads the ASF attribute name (in any letter case); nullptr
// when no row does.
const TagField* FieldOfAsfName(const QString& name);

// True for an attribute that an encoder or player writes about the WMA file
// itself (its encoder, its settings, the ids Windows Media Player files it
// under): true of the source, false of a result, so never carried.
bool IsTechnicalAsfAttribute(const QString& name);
