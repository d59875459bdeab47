#pragma once

// A project saved as MLT XML (Kdenlive, Shotcut, melt) read into one model, the same for every dialect:
// the profile, the bin, the sequences with their tracks, clips, filters, transitions and markers, with every
// time as a frame number at the profile's rate. The model keeps nothing of the document it was read from.
// Reading is linear in the size of the document; a document that is not MLT, or not readable as such, gives
// no model and a reason.

#include <pugixml.hpp>

#include <QString>
#include <QtGlobal>

#include <optional>
#include <string>
#include <vector>

class QFMLTModel final {
public:
    enum class Dialect { Plain, Kdenlive, Shotcut };

    // Texts are kept as the document writes them (UTF-8).
    struct Parameter {
        std::string name;
        std::string value;
        bool operator==(const Parameter &) const = default;
    };
    struct Filter {
        std::string kind;
        bool disabled = false;
        // The frames the filter is limited to; -1 when it follows its item.
        qint64 in = -1;
        qint64 out = -1;
        std::vector<Parameter> parameters; // by name
        bool operator==(const Filter &) const = default;
    };
    struct Marker {
        std::string name;
        qint64 position = 0;
        std::string category;
    };
    // What a timeline clip shows: a clip of the bin, or a producer of its own (Shotcut, melt).
    struct Source {
        std::string key; // the identity clips are matched by
        std::string name;
        std::string resource; // the media as written; empty for generators
        std::string hash;
        int folder = -1; // index into folders; -1 the top of the bin
        bool inBin = false;
        bool sequence = false; // a sequence used as a clip
        bool namedByFile = false; // no name of its own: the name is the media file's
        std::vector<Marker> markers;
    };
    struct Folder {
        std::string id;
        std::string name;
        int parent = -1;
    };
    struct Clip {
        int source = -1;
        qint64 start = 0; // on the timeline
        qint64 in = 0; // in the source; out is inclusive
        qint64 out = 0;
        double speed = 1.0; // negative: reversed
        std::vector<Filter> filters;
    };
    // A mix of two neighbouring clips of one track (indexes into its clips; -1 when one side is missing).
    struct Mix {
        std::string kind;
        int left = -1;
        int right = -1;
        qint64 start = 0;
        qint64 length = 0;
        std::vector<Parameter> parameters;
    };
    struct Track {
        bool audio = false;
        std::string name; // as the user named it, often empty
        std::string label; // the name, else "V1", "A1" … as the editor shows it
        bool muted = false;
        bool hidden = false;
        bool locked = false;
        std::vector<Filter> filters;
        std::vector<Clip> clips; // by start
        std::vector<Mix> mixes;
    };
    // A composition of one track onto another (indexes into tracks; -1 the background).
    struct Composition {
        std::string kind;
        int from = -1;
        int onto = -1;
        qint64 start = 0;
        qint64 length = 0;
        std::vector<Parameter> parameters;
    };
    struct Sequence {
        std::string uuid; // empty for the one timeline of older files, Shotcut and melt
        std::string name;
        std::vector<Track> tracks;
        std::vector<Filter> filters;
        std::vector<Composition> compositions;
        std::vector<Marker> markers;
    };

    Dialect dialect = Dialect::Plain;
    std::string profile;
    std::string notes;
    qint64 timebase = 25; // whole frames a second, for times as HH:MM:SS:FF
    std::vector<Source> sources; // the bin's clips first, in bin order
    std::vector<Folder> folders;
    std::vector<Sequence> sequences; // in document order

    // Whether the document element is "mlt".
    static bool isMLTDocument(const pugi::xml_document &document);
    // The same from the first element of a file, read without parsing the rest.
    static bool isMLTFile(const QString &path);
    static std::optional<QFMLTModel> fromDocument(const pugi::xml_document &document, QString *error = nullptr);
    // Parses the file with the engine's loader and frees the document before returning.
    static std::optional<QFMLTModel> fromFile(const QString &path, QString *error = nullptr);
    // "kdenlive", "shotcut" or "mlt": the host of a version entry.
    static QString hostName(Dialect dialect);
    // The dialect told from the first part of a file alone, for files too large to read.
    static Dialect sniffDialect(const QString &path);

    // HH:MM:SS:FF at the model's rate.
    QString timecode(qint64 frames) const;
};
