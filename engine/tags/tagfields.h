#pragma once
// The fields that a conversion carries, apart from any one tag format: one
// row per field, with the ASF attribute names it is read under and the place
// it takes in each kind of result. Reading a WMA file fills the fields
// (tags/asftags.cpp); writing a result takes them from there (tags/id3tags.cpp,
// tags/vorbistags.cpp, tags/mp4tags.cpp).
//
// The ASF names are those that Windows Media Player, MusicBrainz Picard,
// foobar2000, Mp3tag, MediaMonkey and beets write (beets also its Vorbis
// names in upper case: YEAR, BPM, LYRICS, DISCC...); they are matched
// without regard to letter case. The ID3 frames are those that Picard writes into an
// ID3v2.3 tag, the RIFF INFO ids those that INFO lists have for the field.
// The Vorbis comment names and MP4 atoms are those that Picard writes; a
// field that Picard knows but has no MP4 atom for it writes as a freeform
// atom under its own name of the field in lower case ("arranger"), and so
// does this table. For a field that Picard does not know, the Vorbis name is
// the one that Mp3tag and foobar2000 write (the upper-case ASF name of the
// row) or beets writes, and the MP4 atom the freeform atom of that name.
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
    // The Vorbis comment names of FLAC and Opus results, "|" between them:
    // the field is written under each. The picture row's name stands for the
    // pictures (PICTURE blocks in FLAC, METADATA_BLOCK_PICTURE in Opus).
    const char* vorbis;
    // The iTunes atom of M4A results: a four-character atom ("\251nam" is
    // ©nam), or "----:com.apple.iTunes:" and the name of a freeform atom;
    // nullptr: M4A has no place for the field.
    const char* mp4;
};

inline constexpr TagField kTagFields[] = {
    {"title", FieldKind::Text, "Title", "TIT2", "INAM", "TITLE", "\251nam"},
    {"artist", FieldKind::Text, "Author|ARTIST", "TPE1", "IART", "ARTIST", "\251ART"},
    {"albumartist", FieldKind::Text, "WM/AlbumArtist|ALBUM ARTIST|ALBUMARTIST", "TPE2", nullptr,
     "ALBUMARTIST", "aART"},
    {"album", FieldKind::Text, "WM/AlbumTitle|ALBUM", "TALB", "IPRD", "ALBUM", "\251alb"},
    // WM/Track, an older attribute, counts from 0. The track number has no id
    // of the INFO list itself; readers take it from IPRT (TagLib, FFmpeg) or
    // ITRK (others).
    {"tracknumber", FieldKind::Number, "WM/TrackNumber|WM/Track|TRACKNUMBER|TRACK", "TRCK", "IPRT|ITRK",
     "TRACKNUMBER", "trkn"},
    {"totaltracks", FieldKind::Total, "TotalTracks|TrackTotal|WM/TrackTotal|TRACKC", "TRCK", nullptr,
     "TRACKTOTAL|TOTALTRACKS", "trkn"},
    {"discnumber", FieldKind::Number, "WM/PartOfSet|DISCNUMBER|DISC", "TPOS", nullptr, "DISCNUMBER", "disk"},
    {"totaldiscs", FieldKind::Total, "TotalDiscs|DiscTotal|WM/DiscTotal|DISCC", "TPOS", nullptr,
     "DISCTOTAL|TOTALDISCS", "disk"},
    // Saved as version 2.3, the date becomes TYER (and TDAT for a full date).
    {"date", FieldKind::Date, "WM/Year|DATE|YEAR", "TDRC", "ICRD", "DATE", "\251day"},
    {"genre", FieldKind::Text, "WM/Genre|WM/GenreID|GENRE", "TCON", "IGNR", "GENRE", "\251gen"},
    {"composer", FieldKind::Text, "WM/Composer|COMPOSER", "TCOM", "IMUS", "COMPOSER", "\251wrt"},
    {"lyricist", FieldKind::Text, "WM/Writer|LYRICIST", "TEXT", "IWRI", "LYRICIST",
     "----:com.apple.iTunes:LYRICIST"},
    {"conductor", FieldKind::Text, "WM/Conductor", "TPE3", nullptr, "CONDUCTOR",
     "----:com.apple.iTunes:CONDUCTOR"},
    {"remixer", FieldKind::Text, "WM/ModifiedBy|WM/REMIXERS|MIXARTIST", "TPE4", nullptr, "REMIXER",
     "----:com.apple.iTunes:REMIXER"},
    {"comment", FieldKind::First, "Description|WM/Comments|COMMENT", "COMM", "ICMT", "COMMENT", "\251cmt"},
    {"copyright", FieldKind::Text, "Copyright", "TCOP", "ICOP", "COPYRIGHT", "cprt"},
    {"lyrics", FieldKind::First, "WM/Lyrics|LYRICS", "USLT", nullptr, "LYRICS", "\251lyr"},
    {"label", FieldKind::Text, "WM/Publisher|LABEL|PUBLISHER", "TPUB", nullptr, "LABEL",
     "----:com.apple.iTunes:LABEL"},
    {"bpm", FieldKind::Text, "WM/BeatsPerMinute|BPM", "TBPM", nullptr, "BPM", "tmpo"},
    {"isrc", FieldKind::Text, "WM/ISRC", "TSRC", nullptr, "ISRC", "----:com.apple.iTunes:ISRC"},
    {"subtitle", FieldKind::Text, "WM/SubTitle|Subtitle", "TIT3", nullptr, "SUBTITLE",
     "----:com.apple.iTunes:SUBTITLE"},
    // TSST came with version 2.4, and TagLib drops it from a 2.3 tag.
    {"discsubtitle", FieldKind::Text, "WM/SetSubTitle|SETSUBTITLE|DISCSUBTITLE", "TXXX:DISCSUBTITLE", nullptr,
     "DISCSUBTITLE", "----:com.apple.iTunes:DISCSUBTITLE"},
    {"grouping", FieldKind::Text, "WM/ContentGroupDescription|GROUPING", "TIT1", nullptr, "GROUPING",
     "\251grp"},
    {"work", FieldKind::Text, "WM/Work|WORK", "TXXX:WORK", nullptr, "WORK", "\251wrk"},
    {"key", FieldKind::Text, "WM/InitialKey|INITIALKEY", "TKEY", nullptr, "KEY",
     "----:com.apple.iTunes:initialkey"},
    {"language", FieldKind::Text, "WM/Language|LANGUAGE", "TLAN", "ILNG", "LANGUAGE",
     "----:com.apple.iTunes:LANGUAGE"},
    // TMOO came with version 2.4, and TagLib drops it from a 2.3 tag.
    {"mood", FieldKind::Text, "WM/Mood", "TXXX:MOOD", nullptr, "MOOD", "----:com.apple.iTunes:MOOD"},
    {"media", FieldKind::Text, "WM/Media|MEDIATYPE|MEDIA", "TMED", "IMED", "MEDIA",
     "----:com.apple.iTunes:MEDIA"},
    {"script", FieldKind::Text, "WM/Script|SCRIPT", "TXXX:SCRIPT", nullptr, "SCRIPT",
     "----:com.apple.iTunes:SCRIPT"},
    {"encodedby", FieldKind::Text, "WM/EncodedBy|ENCODEDBY", "TENC", "ITCH", "ENCODEDBY", "\251too"},
    {"catalognumber", FieldKind::Text, "WM/CatalogNo|CATALOGNUMBER", "TXXX:CATALOGNUMBER", nullptr,
     "CATALOGNUMBER", "----:com.apple.iTunes:CATALOGNUMBER"},
    {"barcode", FieldKind::Text, "WM/Barcode|BARCODE", "TXXX:BARCODE", nullptr, "BARCODE",
     "----:com.apple.iTunes:BARCODE"},
    {"asin", FieldKind::Text, "ASIN|MusicBrainz/ASIN", "TXXX:ASIN", nullptr, "ASIN",
     "----:com.apple.iTunes:ASIN"},
    {"artists", FieldKind::Text, "WM/ARTISTS|ARTISTS", "TXXX:ARTISTS", nullptr, "ARTISTS",
     "----:com.apple.iTunes:ARTISTS"},
    {"albumartists", FieldKind::Text, "WM/AlbumArtists", "TXXX:ALBUMARTISTS", nullptr, "ALBUMARTISTS",
     "----:com.apple.iTunes:ALBUMARTISTS"},
    {"director", FieldKind::Text, "WM/Director", "TXXX:DIRECTOR", nullptr, "DIRECTOR", "\251dir"},
    {"netradiostation", FieldKind::Text, "WM/RadioStationName|NETRADIOSTATION", "TRSN", nullptr,
     "NETRADIOSTATION", "----:com.apple.iTunes:NETRADIOSTATION"},
    {"netradioowner", FieldKind::Text, "WM/RadioStationOwner|NETRADIOOWNER", "TRSO", nullptr, "NETRADIOOWNER",
     "----:com.apple.iTunes:NETRADIOOWNER"},
    {"compilation", FieldKind::Flag, "WM/IsCompilation|COMPILATION", "TCMP", nullptr, "COMPILATION", "cpil"},
    {"rating", FieldKind::Rating, "WM/SharedUserRating", "POPM", nullptr, "RATING", nullptr},
    // ID3v2.3 has no sort order frames of its own; these are the ones that
    // iTunes introduced and that taggers and players use in 2.3 as in 2.4.
    {"artistsort", FieldKind::Text, "WM/ArtistSortOrder|ARTISTSORT", "TSOP", nullptr, "ARTISTSORT", "soar"},
    {"albumsort", FieldKind::Text, "WM/AlbumSortOrder|ALBUMSORT", "TSOA", nullptr, "ALBUMSORT", "soal"},
    {"titlesort", FieldKind::Text, "WM/TitleSortOrder|TITLESORT", "TSOT", nullptr, "TITLESORT", "sonm"},
    {"albumartistsort", FieldKind::Text, "WM/AlbumArtistSortOrder|ALBUMARTISTSORT", "TSO2", nullptr,
     "ALBUMARTISTSORT", "soaa"},
    {"composersort", FieldKind::Text, "WM/ComposerSortOrder|COMPOSERSORT", "TSOC", nullptr, "COMPOSERSORT",
     "soco"},
    {"originalartist", FieldKind::Text, "WM/OriginalArtist|ORIGARTIST", "TOPE", nullptr, "ORIGINALARTIST",
     "----:com.apple.iTunes:originalartist"},
    {"originalalbum", FieldKind::Text, "WM/OriginalAlbumTitle|ORIGALBUM", "TOAL", nullptr, "ORIGINALALBUM",
     "----:com.apple.iTunes:originalalbum"},
    {"originallyricist", FieldKind::Text, "WM/OriginalLyricist|ORIGLYRICIST", "TOLY", nullptr, "ORIGLYRICIST",
     "----:com.apple.iTunes:ORIGLYRICIST"},
    {"originalfilename", FieldKind::Text, "WM/OriginalFilename|ORIGFILENAME", "TOFN", nullptr,
     "ORIGINALFILENAME", "----:com.apple.iTunes:originalfilename"},
    // Version 2.3 keeps the year alone; Picard writes the year beside the
    // date in Vorbis comments, and a Vorbis name that ends in YEAR takes the
    // year alone.
    {"originaldate", FieldKind::Date,
     "WM/OriginalReleaseTime|WM/OriginalReleaseYear|ORIGYEAR|ORIGINALDATE|ORIGINALYEAR", "TORY", nullptr,
     "ORIGINALDATE|ORIGINALYEAR", "----:com.apple.iTunes:originaldate"},
    {"producer", FieldKind::Text, "WM/Producer", "TIPL:producer", nullptr, "PRODUCER",
     "----:com.apple.iTunes:PRODUCER"},
    {"engineer", FieldKind::Text, "WM/Engineer", "TIPL:engineer", "IENG", "ENGINEER",
     "----:com.apple.iTunes:ENGINEER"},
    {"mixer", FieldKind::Text, "WM/Mixer", "TIPL:mix", nullptr, "MIXER", "----:com.apple.iTunes:MIXER"},
    {"djmixer", FieldKind::Text, "WM/DJMixer", "TIPL:DJ-mix", nullptr, "DJMIXER",
     "----:com.apple.iTunes:DJMIXER"},
    {"arranger", FieldKind::Text, "WM/Arranger|beets/Arranger|ARRANGER", "TIPL:arranger", nullptr, "ARRANGER",
     "----:com.apple.iTunes:arranger"},
    {"website", FieldKind::Url, "WM/AuthorURL|WWWARTIST", "WOAR", nullptr, "WEBSITE",
     "----:com.apple.iTunes:website"},
    {"filewebpage", FieldKind::Url, "WM/AudioFileURL|WWWAUDIOFILE", "WOAF", nullptr, "WWWAUDIOFILE",
     "----:com.apple.iTunes:WWWAUDIOFILE"},
    {"sourcewebpage", FieldKind::Url, "WM/AudioSourceURL|WWWAUDIOSOURCE", "WOAS", nullptr, "WWWAUDIOSOURCE",
     "----:com.apple.iTunes:WWWAUDIOSOURCE"},
    {"license", FieldKind::Url, "CopyrightURL|WWWCOPYRIGHT", "WCOP", nullptr, "LICENSE",
     "----:com.apple.iTunes:LICENSE"},
    {"commercialwebpage", FieldKind::Url, "WM/PromotionURL|WWWCOMMERCIALINFO", "WCOM", nullptr,
     "WWWCOMMERCIALINFO", "----:com.apple.iTunes:WWWCOMMERCIALINFO"},
    {"url", FieldKind::Url, "WM/UserWebURL|WM/URL|WWW", "WXXX", nullptr, "WWW", "----:com.apple.iTunes:WWW"},
    {"musicbrainz_recordingid", FieldKind::First, "MusicBrainz/Track Id|MUSICBRAINZ_TRACKID",
     "UFID:http://musicbrainz.org", nullptr, "MUSICBRAINZ_TRACKID",
     "----:com.apple.iTunes:MusicBrainz Track Id"},
    {"musicbrainz_trackid", FieldKind::Text, "MusicBrainz/Release Track Id|MUSICBRAINZ_RELEASETRACKID",
     "TXXX:MusicBrainz Release Track Id", nullptr, "MUSICBRAINZ_RELEASETRACKID",
     "----:com.apple.iTunes:MusicBrainz Release Track Id"},
    {"musicbrainz_albumid", FieldKind::Text, "MusicBrainz/Album Id|MUSICBRAINZ_ALBUMID",
     "TXXX:MusicBrainz Album Id", nullptr, "MUSICBRAINZ_ALBUMID",
     "----:com.apple.iTunes:MusicBrainz Album Id"},
    {"musicbrainz_artistid", FieldKind::Text, "MusicBrainz/Artist Id|MUSICBRAINZ_ARTISTID",
     "TXXX:MusicBrainz Artist Id", nullptr, "MUSICBRAINZ_ARTISTID",
     "----:com.apple.iTunes:MusicBrainz Artist Id"},
    {"musicbrainz_albumartistid", FieldKind::Text, "MusicBrainz/Album Artist Id|MUSICBRAINZ_ALBUMARTISTID",
     "TXXX:MusicBrainz Album Artist Id", nullptr, "MUSICBRAINZ_ALBUMARTISTID",
     "----:com.apple.iTunes:MusicBrainz Album Artist Id"},
    {"musicbrainz_releasegroupid", FieldKind::Text, "MusicBrainz/Release Group Id|MUSICBRAINZ_RELEASEGROUPID",
     "TXXX:MusicBrainz Release Group Id", nullptr, "MUSICBRAINZ_RELEASEGROUPID",
     "----:com.apple.iTunes:MusicBrainz Release Group Id"},
    {"musicbrainz_workid", FieldKind::Text, "MusicBrainz/Work Id|MUSICBRAINZ_WORKID",
     "TXXX:MusicBrainz Work Id", nullptr, "MUSICBRAINZ_WORKID", "----:com.apple.iTunes:MusicBrainz Work Id"},
    {"musicbrainz_discid", FieldKind::Text, "MusicBrainz/Disc Id|MUSICBRAINZ_DISCID",
     "TXXX:MusicBrainz Disc Id", nullptr, "MUSICBRAINZ_DISCID", "----:com.apple.iTunes:MusicBrainz Disc Id"},
    {"musicbrainz_composerid", FieldKind::Text, "MusicBrainz/Composer Id", "TXXX:MusicBrainz Composer Id",
     nullptr, "MUSICBRAINZ_COMPOSERID", "----:com.apple.iTunes:MusicBrainz Composer Id"},
    {"musicbrainz_originalalbumid", FieldKind::Text, "MusicBrainz/Original Album Id",
     "TXXX:MusicBrainz Original Album Id", nullptr, "MUSICBRAINZ_ORIGINALALBUMID",
     "----:com.apple.iTunes:MusicBrainz Original Album Id"},
    {"musicbrainz_originalartistid", FieldKind::Text, "MusicBrainz/Original Artist Id",
     "TXXX:MusicBrainz Original Artist Id", nullptr, "MUSICBRAINZ_ORIGINALARTISTID",
     "----:com.apple.iTunes:MusicBrainz Original Artist Id"},
    {"musicbrainz_trmid", FieldKind::Text, "MusicBrainz/TRM Id", "TXXX:MusicBrainz TRM Id", nullptr,
     "MUSICBRAINZ_TRMID", "----:com.apple.iTunes:MusicBrainz TRM Id"},
    {"releasestatus", FieldKind::Text, "MusicBrainz/Album Status|MUSICBRAINZ_ALBUMSTATUS",
     "TXXX:MusicBrainz Album Status", nullptr, "RELEASESTATUS",
     "----:com.apple.iTunes:MusicBrainz Album Status"},
    {"releasetype", FieldKind::Text, "MusicBrainz/Album Type|MUSICBRAINZ_ALBUMTYPE",
     "TXXX:MusicBrainz Album Type", nullptr, "RELEASETYPE", "----:com.apple.iTunes:MusicBrainz Album Type"},
    {"releasecountry", FieldKind::Text,
     "MusicBrainz/Album Release Country|MUSICBRAINZ_ALBUMRELEASECOUNTRY|RELEASECOUNTRY",
     "TXXX:MusicBrainz Album Release Country", nullptr, "RELEASECOUNTRY",
     "----:com.apple.iTunes:MusicBrainz Album Release Country"},
    {"albumcomment", FieldKind::Text, "MusicBrainz/Album Comment|MUSICBRAINZ_ALBUMCOMMENT",
     "TXXX:MusicBrainz Album Comment", nullptr, "MUSICBRAINZ_ALBUMCOMMENT",
     "----:com.apple.iTunes:MusicBrainz Album Comment"},
    {"musicip_puid", FieldKind::Text, "MusicIP/PUID", "TXXX:MusicIP PUID", nullptr, "MUSICIP_PUID",
     "----:com.apple.iTunes:MusicIP PUID"},
    {"acoustid_id", FieldKind::Text, "Acoustid/Id|ACOUSTID_ID", "TXXX:Acoustid Id", nullptr, "ACOUSTID_ID",
     "----:com.apple.iTunes:Acoustid Id"},
    {"acoustid_fingerprint", FieldKind::Text, "Acoustid/Fingerprint|ACOUSTID_FINGERPRINT",
     "TXXX:Acoustid Fingerprint", nullptr, "ACOUSTID_FINGERPRINT",
     "----:com.apple.iTunes:Acoustid Fingerprint"},
    // The upper-case names as Picard and Mp3tag write them, foobar2000's in
    // lower case (the same name when letter case does not count), and the
    // names of older Windows Media tools.
    {"replaygain_track_gain", FieldKind::Text, "REPLAYGAIN_TRACK_GAIN|ReplayGain/Track",
     "TXXX:REPLAYGAIN_TRACK_GAIN", nullptr, "REPLAYGAIN_TRACK_GAIN",
     "----:com.apple.iTunes:REPLAYGAIN_TRACK_GAIN"},
    {"replaygain_track_peak", FieldKind::Text, "REPLAYGAIN_TRACK_PEAK|ReplayGain/Track Peak",
     "TXXX:REPLAYGAIN_TRACK_PEAK", nullptr, "REPLAYGAIN_TRACK_PEAK",
     "----:com.apple.iTunes:REPLAYGAIN_TRACK_PEAK"},
    {"replaygain_track_range", FieldKind::Text, "REPLAYGAIN_TRACK_RANGE", "TXXX:REPLAYGAIN_TRACK_RANGE",
     nullptr, "REPLAYGAIN_TRACK_RANGE", "----:com.apple.iTunes:REPLAYGAIN_TRACK_RANGE"},
    {"replaygain_album_gain", FieldKind::Text, "REPLAYGAIN_ALBUM_GAIN|ReplayGain/Album",
     "TXXX:REPLAYGAIN_ALBUM_GAIN", nullptr, "REPLAYGAIN_ALBUM_GAIN",
     "----:com.apple.iTunes:REPLAYGAIN_ALBUM_GAIN"},
    {"replaygain_album_peak", FieldKind::Text, "REPLAYGAIN_ALBUM_PEAK|ReplayGain/Album Peak",
     "TXXX:REPLAYGAIN_ALBUM_PEAK", nullptr, "REPLAYGAIN_ALBUM_PEAK",
     "----:com.apple.iTunes:REPLAYGAIN_ALBUM_PEAK"},
    {"replaygain_album_range", FieldKind::Text, "REPLAYGAIN_ALBUM_RANGE", "TXXX:REPLAYGAIN_ALBUM_RANGE",
     nullptr, "REPLAYGAIN_ALBUM_RANGE", "----:com.apple.iTunes:REPLAYGAIN_ALBUM_RANGE"},
    {"replaygain_reference_loudness", FieldKind::Text, "REPLAYGAIN_REFERENCE_LOUDNESS",
     "TXXX:REPLAYGAIN_REFERENCE_LOUDNESS", nullptr, "REPLAYGAIN_REFERENCE_LOUDNESS",
     "----:com.apple.iTunes:REPLAYGAIN_REFERENCE_LOUDNESS"},
    {"picture", FieldKind::Picture, "WM/Picture", "APIC", nullptr, "METADATA_BLOCK_PICTURE", "covr"},
};

// The row that reads the ASF attribute name (in any letter case); nullptr
// when no row does.
const TagField* FieldOfAsfName(const QString& name);

// The total that goes with a number (the track count with the track
// number, the disc count with the disc number); nullptr for any other row.
const TagField* TotalFieldOf(const TagField& number);

// True for an attribute that an encoder or player writes about the WMA file
// itself (its encoder, its settings, the ids Windows Media Player files it
// under): true of the source, false of a result, so never carried.
bool IsTechnicalAsfAttribute(const QString& name);
