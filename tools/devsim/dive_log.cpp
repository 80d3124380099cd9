#include "tools/devsim/dive_log.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Deterministic random numbers: mt19937 is the same everywhere; the
// standard distributions are not, so they are not used.
class Rng {
public:
    explicit Rng(uint32_t seed) : gen_(seed) {}
    double Uniform(double lo, double hi) { return lo + (hi - lo) * (gen_() / 4294967296.0); }
    int Int(int lo, int hi) { return lo + static_cast<int>(gen_() % static_cast<uint32_t>(hi - lo + 1)); }
    bool Chance(double p) { return Uniform(0, 1) < p; }

private:
    std::mt19937 gen_;
};

struct Spot {
    const char* name;
    double lat, lon;
    int16_t tz_minutes;
    uint8_t water;                // 0 salt, 1 fresh
    double min_depth, max_depth;  // metres, scuba
    double surface_temp, bottom_temp;
    uint16_t surface_mbar;
    bool freedive;  // a freediving spot as well
};

// Real dive spots.
const Spot kSpots[] = {
    {"Blue Hole, Dahab", 28.572200, 34.536900, 120, 0, 18, 32, 26.5, 24.0, 1012, true},
    {"SS Thistlegorm, Red Sea", 27.814200, 33.920800, 180, 0, 20, 30, 25.0, 23.5, 1013, false},
    {"Barracuda Point, Sipadan", 4.115000, 118.628900, 480, 0, 15, 28, 29.5, 27.5, 1010, false},
    {"Blue Corner, Palau", 7.135800, 134.221100, 540, 0, 15, 30, 29.0, 27.0, 1010, false},
    {"Richelieu Rock, Similan", 9.361400, 98.023600, 420, 0, 12, 28, 29.0, 27.5, 1011, false},
    {"Manta Point, Nusa Penida", -8.794400, 115.528300, 480, 0, 8, 18, 25.0, 22.0, 1011, false},
    {"Kenting, Houbihu", 21.946700, 120.745300, 480, 0, 8, 22, 27.5, 25.0, 1011, true},
    {"Green Island, Chaikou", 22.675500, 121.473600, 480, 0, 10, 26, 27.0, 24.5, 1011, true},
    {"Dean's Blue Hole, Long Island", 23.106100, -75.006600, -300, 0, 10, 30, 27.0, 25.5, 1014, true},
    {"Great Blue Hole, Belize", 17.315600, -87.534700, -360, 0, 18, 40, 27.5, 24.5, 1013, false},
    {"Silfra, Thingvellir", 64.255800, -21.116700, 0, 1, 6, 18, 3.0, 2.5, 1005, false},
    {"Cenote Dos Ojos, Tulum", 20.324700, -87.391900, -300, 1, 5, 10, 25.5, 25.0, 1012, false},
};
constexpr int kSpotCount = sizeof(kSpots) / sizeof(kSpots[0]);

struct Sample {
    uint16_t depth_cm;
    int16_t temp_dc;
};
struct Event {
    uint16_t time, code, value;
};

struct Dive {
    uint32_t start = 0;
    int16_t tz = 0;
    uint8_t type = 0;
    uint8_t o2 = 21;
    uint16_t interval = 5;
    std::vector<Sample> samples;
    std::vector<Event> events;
    uint16_t start_bar = 0, end_bar = 0;  // tenths of bar
    uint16_t surface_mbar = 1013;
    uint8_t water = 0;
    int32_t entry_lat = 0, entry_lon = 0, exit_lat = 0, exit_lon = 0;
};

int16_t TempAt(const Spot& s, double depth_m, Rng& rng) {
    // Warm surface layer, thermocline between 8 and 25 m.
    const double f = std::clamp((depth_m - 8.0) / 17.0, 0.0, 1.0);
    const double t = s.surface_temp - (s.surface_temp - s.bottom_temp) * f + rng.Uniform(-0.1, 0.1);
    return static_cast<int16_t>(std::lround(t * 10));
}

// A multi-level recreational dive: descent, a slowly rising bottom phase, an
// ascent with a safety stop at 5 m.
void ScubaProfile(const Spot& s, Dive& d, Rng& rng) {
    const double max_depth = rng.Uniform(s.min_depth, s.max_depth);
    const double total_min = std::clamp(rng.Uniform(38, 62) - (max_depth - 18) * 0.6, 28.0, 65.0);
    const int total = static_cast<int>(total_min * 60);
    const bool skip_stop = rng.Chance(0.12);
    const bool fast_ascent = rng.Chance(0.2);
    const double descent_rate = rng.Uniform(12, 20) / 60.0;  // m/s
    const double ascent_rate = 9.0 / 60.0;
    const int stop = skip_stop ? 0 : 180;
    const double stop_depth = 5.0;
    const int descent_t = static_cast<int>(max_depth / descent_rate);
    const int final_ascent_t = static_cast<int>(stop_depth / ascent_rate);
    const double end_bottom_depth = std::max(stop_depth + 3, max_depth * rng.Uniform(0.45, 0.65));
    const int ascent_t = static_cast<int>((end_bottom_depth - stop_depth) / (fast_ascent ? 15.0 / 60.0 : ascent_rate));
    const int bottom_t = std::max(120, total - descent_t - ascent_t - stop - final_ascent_t);
    const int t1 = descent_t, t2 = t1 + bottom_t, t3 = t2 + ascent_t, t4 = t3 + stop, t5 = t4 + final_ascent_t;
    const double wobble = rng.Uniform(0.3, 1.2);
    bool depth_alarm = false;

    for (int t = 0; t <= t5; t += d.interval) {
        double depth;
        if (t < t1) {
            depth = t * descent_rate;
        } else if (t < t2) {
            const double f = double(t - t1) / bottom_t;
            depth = max_depth + (end_bottom_depth - max_depth) * f + wobble * std::sin(t / 97.0);
        } else if (t < t3) {
            depth = end_bottom_depth + (stop_depth - end_bottom_depth) * double(t - t2) / std::max(1, ascent_t);
        } else if (t < t4) {
            depth = stop_depth + 0.3 * std::sin(t / 23.0);
        } else {
            depth = stop_depth * (1.0 - double(t - t4) / std::max(1, final_ascent_t));
        }
        depth = std::max(0.0, depth + rng.Uniform(-0.05, 0.05));
        if (t == 0) depth = 0;
        d.samples.push_back({static_cast<uint16_t>(std::lround(depth * 100)), TempAt(s, depth, rng)});
        if (!depth_alarm && depth >= 30.0) {
            depth_alarm = true;
            d.events.push_back({static_cast<uint16_t>(t), 4, 3000});
        }
    }
    d.samples.back().depth_cm = 0;
    if (fast_ascent) d.events.push_back({static_cast<uint16_t>(t2 + ascent_t / 2), 1, 1500});
    if (skip_stop) d.events.push_back({static_cast<uint16_t>(t3), 2, 0});
    if (max_depth > 30 && bottom_t > 1500) d.events.push_back({static_cast<uint16_t>(t1 + 1200), 7, 0});
    if (rng.Chance(0.05)) d.events.push_back({static_cast<uint16_t>(t1 + 60), 6, 0});
    std::sort(d.events.begin(), d.events.end(), [](const Event& a, const Event& b) { return a.time < b.time; });
}

// One breath-hold: straight down, a moment at the bottom, straight up.
void FreediveProfile(const Spot& s, Dive& d, Rng& rng) {
    const double max_depth = rng.Uniform(8, 32);
    const double rate = rng.Uniform(0.8, 1.2);
    const int down = static_cast<int>(max_depth / rate);
    const int hold = rng.Int(2, 15);
    const int up = static_cast<int>(max_depth / (rate * 1.1));
    const int total = down + hold + up;
    for (int t = 0; t <= total; t += d.interval) {
        double depth;
        if (t < down) depth = t * rate;
        else if (t < down + hold) depth = max_depth;
        else depth = std::max(0.0, max_depth - (t - down - hold) * rate * 1.1);
        d.samples.push_back({static_cast<uint16_t>(std::lround(depth * 100)), TempAt(s, depth, rng)});
    }
    d.samples.back().depth_cm = 0;
    if (max_depth > 25) d.events.push_back({static_cast<uint16_t>(static_cast<int>(25 / rate)), 4, 2500});
}

std::vector<uint8_t> EncodeRecord(const Dive& d, uint32_t number) {
    const size_t length = kDiveHeaderSize + 4 * d.samples.size() + 6 * d.events.size();
    std::vector<uint8_t> r(length, 0);
    std::memcpy(r.data(), "DIVE", 4);
    Put32(r, 4, number);
    Put32(r, 8, d.start);
    Put16(r, 12, static_cast<uint16_t>(d.tz));
    r[14] = d.type;
    r[15] = d.o2;
    const uint32_t duration = static_cast<uint32_t>((d.samples.size() - 1) * d.interval);
    Put32(r, 16, duration);
    Put16(r, 20, d.interval);
    Put16(r, 22, static_cast<uint16_t>(d.samples.size()));
    Put16(r, 24, static_cast<uint16_t>(d.events.size()));
    uint16_t max_depth = 0;
    int16_t min_temp = 32767;
    uint64_t depth_total = 0;
    for (const auto& s : d.samples) {
        max_depth = std::max(max_depth, s.depth_cm);
        min_temp = std::min(min_temp, s.temp_dc);
        depth_total += s.depth_cm;
    }
    Put16(r, 26, max_depth);
    Put16(r, 28, static_cast<uint16_t>(depth_total / d.samples.size()));
    Put16(r, 30, static_cast<uint16_t>(min_temp));
    Put16(r, 32, d.start_bar);
    Put16(r, 34, d.end_bar);
    Put16(r, 36, d.surface_mbar);
    r[38] = d.water;
    Put32(r, 40, static_cast<uint32_t>(d.entry_lat));
    Put32(r, 44, static_cast<uint32_t>(d.entry_lon));
    Put32(r, 48, static_cast<uint32_t>(d.exit_lat));
    Put32(r, 52, static_cast<uint32_t>(d.exit_lon));
    size_t at = kDiveHeaderSize;
    for (const auto& s : d.samples) {
        Put16(r, at, s.depth_cm);
        Put16(r, at + 2, static_cast<uint16_t>(s.temp_dc));
        at += 4;
    }
    for (const auto& e : d.events) {
        Put16(r, at, e.time);
        Put16(r, at + 2, e.code);
        Put16(r, at + 4, e.value);
        at += 6;
    }
    Put32(r, 56, Crc32(r.data() + kDiveHeaderSize, length - kDiveHeaderSize));
    return r;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        crc = crc32(crc, data, n);
        data += n;
        size -= n;
    }
    return static_cast<uint32_t>(crc);
}

std::vector<uint8_t> BuildLogMemory(const DiveGenOptions& options) {
    Rng rng(options.seed);
    const std::time_t end = options.end_time ? options.end_time : std::time(nullptr);
    const int wanted = std::clamp(options.dives, 0, static_cast<int>(kMaxDives));

    // Dives come in trips of a few days at one spot, two or three a day.
    std::vector<Dive> dives;
    const uint32_t span = 120u * 86400u;  // four months
    uint32_t day0 = static_cast<uint32_t>(end) - span;
    day0 -= day0 % 86400;
    int trips = 0;
    while (static_cast<int>(dives.size()) < wanted) {
        const int remaining = wanted - static_cast<int>(dives.size());
        // Every third trip goes to a spot where people also freedive, and
        // starts with a freediving day, so every log of some size has both.
        const bool freedive_trip = trips++ % 3 == 1;
        const Spot* pick = &kSpots[rng.Int(0, kSpotCount - 1)];
        while (freedive_trip && !pick->freedive) pick = &kSpots[rng.Int(0, kSpotCount - 1)];
        const Spot& spot = *pick;
        const int days = rng.Int(1, 3);
        const uint32_t gap = span / static_cast<uint32_t>(std::max(2, wanted / 5 + 1));
        const uint32_t trip_day = day0 + static_cast<uint32_t>(rng.Uniform(0.3, 1.0) * gap) / 86400 * 86400;
        day0 = trip_day + static_cast<uint32_t>(days) * 86400;
        for (int day = 0; day < days && static_cast<int>(dives.size()) < wanted; ++day) {
            const bool freedive_day = spot.freedive && ((freedive_trip && day == 0) || rng.Chance(0.3));
            const int per_day = std::min(remaining, freedive_day ? rng.Int(2, 4) : rng.Int(1, 3));
            int local_minutes = rng.Int(8 * 60, 9 * 60 + 30);
            for (int k = 0; k < per_day && static_cast<int>(dives.size()) < wanted; ++k) {
                Dive d;
                d.tz = spot.tz_minutes;
                d.water = spot.water;
                d.surface_mbar = static_cast<uint16_t>(spot.surface_mbar + rng.Int(-4, 4));
                d.start = static_cast<uint32_t>(static_cast<int64_t>(trip_day) + int64_t(day) * 86400 +
                                                int64_t(local_minutes - spot.tz_minutes) * 60 + rng.Int(0, 59));
                if (freedive_day) {
                    d.type = 2;
                    d.o2 = 0;
                    d.interval = 1;
                    FreediveProfile(spot, d, rng);
                    local_minutes += rng.Int(4, 9);
                } else {
                    d.type = rng.Chance(0.15) ? 1 : 0;
                    d.o2 = (d.type == 0 && rng.Chance(0.3)) ? 32 : 21;
                    d.interval = 5;
                    ScubaProfile(spot, d, rng);
                    if (d.type == 0) {
                        d.start_bar = static_cast<uint16_t>(rng.Int(1950, 2150));
                        const double minutes = d.samples.size() * d.interval / 60.0;
                        double avg_m = 0;
                        for (const auto& s : d.samples) avg_m += s.depth_cm / 100.0;
                        avg_m /= d.samples.size();
                        // 12-litre tank, 14 to 20 litres a minute at the surface.
                        const double used_bar = rng.Uniform(14, 20) * (1 + avg_m / 10) * minutes / 12.0;
                        d.end_bar = static_cast<uint16_t>(std::max(300.0, d.start_bar - used_bar * 10));
                    }
                    local_minutes += static_cast<int>(d.samples.size() * d.interval / 60) + rng.Int(60, 120);
                }
                const double jitter = 0.0008;
                d.entry_lat = static_cast<int32_t>(std::lround((spot.lat + rng.Uniform(-jitter, jitter)) * 1e6));
                d.entry_lon = static_cast<int32_t>(std::lround((spot.lon + rng.Uniform(-jitter, jitter)) * 1e6));
                if (rng.Chance(0.1)) {
                    d.exit_lat = d.exit_lon = 0;  // no fix at the surface
                } else {
                    d.exit_lat = d.entry_lat + rng.Int(-2500, 2500);
                    d.exit_lon = d.entry_lon + rng.Int(-2500, 2500);
                }
                dives.push_back(std::move(d));
            }
        }
    }
    std::stable_sort(dives.begin(), dives.end(), [](const Dive& a, const Dive& b) { return a.start < b.start; });
    // The last trip ended a few days ago; whole days keep the local times.
    if (!dives.empty()) {
        const int64_t target = static_cast<int64_t>(end) - 86400 * rng.Int(2, 6);
        const int64_t shift_days = (target - static_cast<int64_t>(dives.back().start)) / 86400;
        for (auto& d : dives) d.start = static_cast<uint32_t>(static_cast<int64_t>(d.start) + shift_days * 86400);
    }

    std::vector<uint8_t> mem(kLogRecordsAddress, 0xFF);
    uint32_t address = kLogRecordsAddress;
    struct Entry {
        uint32_t address, length, number;
    };
    std::vector<Entry> entries;
    for (size_t i = 0; i < dives.size(); ++i) {
        const uint32_t number = options.first_number + static_cast<uint32_t>(i);
        const std::vector<uint8_t> rec = EncodeRecord(dives[i], number);
        if (address + rec.size() > kLogRecordsEnd) break;
        mem.insert(mem.end(), rec.begin(), rec.end());
        entries.push_back({address, static_cast<uint32_t>(rec.size()), number});
        address += static_cast<uint32_t>(rec.size());
    }
    std::memcpy(mem.data(), "VLOG", 4);
    Put16(mem, 4, 1);
    Put16(mem, 6, static_cast<uint16_t>(entries.size()));
    Put32(mem, 8, address);
    Put32(mem, 12, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t at = 16 + 16 * i;
        Put32(mem, at, entries[i].address);
        Put32(mem, at + 4, entries[i].length);
        Put32(mem, at + 8, entries[i].number);
        Put32(mem, at + 12, 0);
    }
    return mem;
}

bool GenerateDives(MemoryImage& image, const DiveGenOptions& options) {
    std::vector<uint8_t> mem = BuildLogMemory(options);
    mem.resize(kLogRecordsEnd, 0xFF);
    return image.Write(0, mem.data(), mem.size());
}

bool ReadDives(const MemoryImage& image, std::vector<DiveSummary>& dives, std::string* error) {
    dives.clear();
    uint8_t index[4096];
    image.Read(kLogIndexAddress, index, sizeof index);
    if (std::memcmp(index, "VLOG", 4) != 0) {
        if (error) *error = "no log index (magic \"VLOG\" missing)";
        return false;
    }
    const uint16_t count = Get16(index + 6);
    if (count > kMaxDives) {
        if (error) *error = "dive count " + std::to_string(count) + " exceeds 255";
        return false;
    }
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = index + 16 + 16 * i;
        DiveSummary s;
        s.address = Get32(e);
        s.length = Get32(e + 4);
        s.number = Get32(e + 8);
        if (s.length < kDiveHeaderSize || s.length > kLogRecordsEnd || s.address >= kLogRecordsEnd ||
            s.address + s.length > kLogRecordsEnd)
            continue;
        std::vector<uint8_t> rec(s.length);
        image.Read(s.address, rec.data(), rec.size());
        if (std::memcmp(rec.data(), "DIVE", 4) != 0) continue;
        s.start_time = Get32(&rec[8]);
        s.tz_minutes = static_cast<int16_t>(Get16(&rec[12]));
        s.type = rec[14];
        s.duration = Get32(&rec[16]);
        s.interval = Get16(&rec[20]);
        s.samples = Get16(&rec[22]);
        s.events = Get16(&rec[24]);
        s.max_depth_cm = Get16(&rec[26]);
        s.latitude = static_cast<int32_t>(Get32(&rec[40]));
        s.longitude = static_cast<int32_t>(Get32(&rec[44]));
        const size_t body = 4u * s.samples + 6u * s.events;
        s.crc_ok = kDiveHeaderSize + body == s.length && Crc32(rec.data() + kDiveHeaderSize, body) == Get32(&rec[56]);
        dives.push_back(s);
    }
    return true;
}
