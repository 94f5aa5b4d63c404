// The markers of the console protocol, as the Java application writes them
// to its standard output, and how a read of that output is scanned for them.
#pragma once

#include <QByteArray>

#include <vector>

enum class Marker { Startup, Shutdown, Restart };

// Every marker that stands whole in a read, in the order they stand. The
// bytes are searched as they came: the markers are ASCII, and no byte of a
// UTF-8 sequence (nor of a broken one) is, so this finds what a search of
// the decoded text finds, without decoding output that is not forwarded.
std::vector<Marker> markersIn(const QByteArray& bytes);

