#include "markers.h"

#include <cstring>

namespace {

// Every marker begins so: one search finds the next candidate.
const char kMarkerStart[] = "###QUILL";

struct MarkerText {
    Marker marker;
    const char* text;
};

const MarkerText kMarkers[] = {
    {Marker::Startup, "###QUILLSTARTUPCOMP###"},
    {Marker::Shutdown, "###QUILLSHUTDOWNCOMP###"},
    {Marker::Restart, "###QUILLRESTART###"},
};

} // namespace

std::vector<Marker> markersIn(const QByteArray& bytes)
{
    std::vector<Marker> found;
    int from = 0;
    for (;;) {
        const int at = bytes.indexOf(kMarkerStart, from);
        if (at < 0)
            return found;
        from = at + 1;
        for (const MarkerText& candidate : kMarkers) {
            const int length = static_cast<int>(std::strlen(candidate.text));
            if (bytes.size() - at >= length && std::memcmp(bytes.constData() + at, candidate.text, length) == 0) {
                found.push_back(candidate.marker);
                from = at + length;
                break;
            }
        }
    }
}

QString textOfRead(const QByteArray& bytes)
{
    // The QByteArray overload would stop at the first zero byte.
    QString text = QString::fromUtf8(bytes.constData(), bytes.size());
    text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return text;
}
