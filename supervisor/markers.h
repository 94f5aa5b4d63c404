// The markers of the console protocol, as the Java application writes them
// to its standard output, and how a read of that output is scanned for them.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

enum class Marker { Startup, Shutdown, Restart };

// Every marker that stands whole in a read, in the order they stand. The
// bytes are searched as they came: the markers are ASCII, and no byte of a
// UTF-8 sequence (nor of a broken one) is, so this finds what a search of
// the decoded text finds, without decoding output that is not forwarded.
std::vector<Marker> markersIn(const QByteArray& bytes);

// A read of the Java process's output as text: UTF-8, all of it. A zero
// byte, which no event-log entry or console line can hold, stands as U+FFFD
// like any byte that is not UTF-8, so that nothing after it is lost.
QString textOfRead(const QByteArray& bytes);
