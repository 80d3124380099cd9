// Dive logs as a UDDF 3.2.3 document (the open interchange format for dive
// logs), without a window: dive logs as the cloud sends them in, the bytes of
// the file out.
//
// SI units throughout: metres, seconds, kelvin, pascal, cubic metres. A value
// the dive log does not hold (a missing member, text without a number, a zero
// pressure or cylinder volume, a position at (0, 0)) is left out, never
// written as 0. The two values the format requires of every dive fall back
// on the samples: the greatest depth on the deepest sample, the duration on
// the last sample's time (0 only without samples).
//
// Whatever the dive logs hold, the document is well-formed UTF-8 XML and
// valid against the format's schema.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace vorta_divelog {

struct UddfGenerator {
    std::string name;     // the program's name
    std::string version;  // its version
};

// The diver who owns the logbook. The name is split at its last blank into
// first and last name; without a name and an e-mail there is no diver.
struct UddfOwner {
    std::string name;
    std::string email;
};

// The part of a dive's element that its dive log alone decides (all but its
// number and the link to its site), made ahead of the document: for an
// export, while the next dive log is on its way.
std::string UddfDiveBody(const Json::Value& divelog);

// UddfDiveBody, after which the dive log keeps only what UddfDocument still
// reads of a dive whose part is made (its "poi") and its start
// ("dive_datetime", by which the dives are put in order): for a caller that
// holds many dive logs until the document is written, the samples are freed
// as each part is made.
std::string UddfDiveBodyAndTrim(Json::Value& divelog);

// One "dive" per dive log, in the given order, numbered from 1 within the
// document; their dive sites ("poi") once each, linked from the dives. The
// part of dive i that UddfDiveBody made of divelogs[i] is taken from
// bodies[i] where there is one and it is not empty, else made here.
std::string UddfDocument(const std::vector<Json::Value>& divelogs, const UddfGenerator& generator,
                         const UddfOwner& owner, const std::vector<std::string>& bodies = {});

}  // namespace vorta_divelog
