// SPDX-License-Identifier: MIT
#include "journal/svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velkfault::curve {
namespace {

// One chart's frame, in pixels.
constexpr double kWidth = 800;
constexpr double kHeight = 440;
constexpr double kLeft = 70;
constexpr double kRight = 780;
constexpr double kTop = 60;
constexpr double kBottom = 380;

const char* color_of(Policy policy) {
    switch (policy) {
        case Policy::Lru:
            return "#1f77b4";
        case Policy::Lfu:
            return "#d62728";
        case Policy::Fifo:
            return "#2ca02c";
        default:
            return "#9467bd";
    }
}

void append_part(std::string& out, std::string_view text) {
    out.append(text);
}
// Coordinates: one decimal is a tenth of a pixel.
void append_part(std::string& out, double value) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.1f", value);
    out.append(text, static_cast<std::size_t>(length));
}
// Appends the parts in order (built in place: no temporaries to join).
template <class... Parts>
void put(std::string& out, const Parts&... parts) {
    (append_part(out, parts), ...);
}

std::string grouped(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // XML 1.0 has no control characters but tab and newlines.
                out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
    }
    return out;
}

// Where capacities go: log2 between the smallest and the largest shown.
struct Axis {
    double lo;
    double hi;
    double x(std::uint64_t capacity) const {
        return kLeft + (std::log2(static_cast<double>(capacity)) - lo) / (hi - lo) * (kRight - kLeft);
    }
};

Axis axis_of(const Curve& curve) {
    std::uint64_t least = UINT64_MAX;
    std::uint64_t most = 0;
    for (const Point& point : curve.points) {
        least = std::min(least, point.capacity);
        most = std::max(most, point.capacity);
    }
    for (const std::uint64_t declared : curve.declared) {
        least = std::min(least, declared);
        most = std::max(most, declared);
    }
    if (most == 0) {
        least = most = 1;
    }
    double lo = std::log2(static_cast<double>(least));
    double hi = std::log2(static_cast<double>(most));
    if (hi - lo < 1) {  // one capacity, or a narrow range: an octave around it
        const double middle = (lo + hi) / 2;
        lo = std::max(0.0, middle - 0.5);
        hi = lo + 1;
    }
    return Axis{lo, hi};
}

double y_of(const Point& point) {
    const double reads = static_cast<double>(point.hits + point.misses);
    return kBottom - static_cast<double>(point.hits) / reads * (kBottom - kTop);
}

void frame(std::string& out, const Curve& curve, const Axis& axis) {
    put(out, "<text x=\"", kWidth / 2, "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">Namespace \u201c",
        escaped(curve.ns), "\u201d: hit ratio by capacity, ", grouped(curve.uses),
        curve.uses == 1 ? " use" : " uses", "</text>\n");
    // The hit ratio: a line every 20 %.
    for (int percent = 0; percent <= 100; percent += 20) {
        const double y = kBottom - percent / 100.0 * (kBottom - kTop);
        put(out, "<line x1=\"", kLeft, "\" y1=\"", y, "\" x2=\"", kRight, "\" y2=\"", y,
            "\" stroke=\"#dddddd\"/>\n");
        put(out, "<text x=\"", kLeft - 8, "\" y=\"", y, "\" dy=\"4\" text-anchor=\"end\">",
            std::to_string(percent), " %</text>\n");
    }
    put(out, "<text transform=\"translate(18 ", (kTop + kBottom) / 2,
        ") rotate(-90)\" text-anchor=\"middle\">hit ratio</text>\n");
    // Capacities: powers of two, at most about eight of them, preferring
    // steps that land on whole KiB, MiB, GiB.
    const double span = axis.hi - axis.lo;
    int step = 1;
    for (const int candidate : {1, 2, 5, 10, 20}) {
        step = candidate;
        if (span / candidate <= 8) {
            break;
        }
    }
    const int first = static_cast<int>(std::ceil(axis.lo / step)) * step;
    for (int power = first; power <= static_cast<int>(std::floor(axis.hi)); power += step) {
        const std::uint64_t bytes = std::uint64_t{1} << power;
        const double x = axis.x(bytes);
        put(out, "<line x1=\"", x, "\" y1=\"", kTop, "\" x2=\"", x, "\" y2=\"", kBottom + 5,
            "\" stroke=\"#eeeeee\"/>\n");
        put(out, "<text x=\"", x, "\" y=\"", kBottom + 20, "\" text-anchor=\"middle\">", byte_label(bytes),
            "</text>\n");
    }
    put(out, "<rect x=\"", kLeft, "\" y=\"", kTop, "\" width=\"", kRight - kLeft, "\" height=\"",
        kBottom - kTop, "\" fill=\"none\" stroke=\"#444444\"/>\n");
    put(out, "<text x=\"", (kLeft + kRight) / 2, "\" y=\"", kBottom + 45,
        "\" text-anchor=\"middle\">capacity (log scale)");
    const bool lru = std::any_of(curve.points.begin(), curve.points.end(),
                                 [](const Point& point) { return point.policy == Policy::Lru; });
    if (lru && curve.exact_from > 1) {
        put(out, ", lru exact from ", byte_label(curve.exact_from));
    }
    put(out, "</text>\n");
    // Declared capacities close together share one label, which stays
    // inside the chart's width.
    constexpr double kLabelRoom = 110;
    for (std::size_t first = 0; first < curve.declared.size();) {
        const double x = axis.x(curve.declared[first]);
        std::string label = "declared " + byte_label(curve.declared[first]);
        std::size_t next = first + 1;
        for (; next < curve.declared.size() && axis.x(curve.declared[next]) - x < kLabelRoom; ++next) {
            label += ", " + byte_label(curve.declared[next]);
        }
        for (std::size_t i = first; i < next; ++i) {
            const double at = axis.x(curve.declared[i]);
            put(out, "<line x1=\"", at, "\" y1=\"", kTop, "\" x2=\"", at, "\" y2=\"", kBottom,
                "\" stroke=\"#888888\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n");
        }
        const char* anchor = x > kRight - kLabelRoom      ? "end"
                             : x < kLeft + kLabelRoom / 2 ? "start"
                                                          : "middle";
        put(out, "<text x=\"", x, "\" y=\"", kTop - 6, "\" text-anchor=\"", anchor, "\" fill=\"#555555\">",
            escaped(label), "</text>\n");
        first = next;
    }
}

// One policy's line: lru steps from each capacity where it changes (thinned
// to one point per pixel) where it is exact; every other line, and lru below
// that, runs straight between grid points, each marked.
void line(std::string& out, std::span<const Point> points, const Axis& axis, std::uint64_t exact_from) {
    const Policy policy = points.front().policy;
    const auto stepped = [&](const Point& point) {
        return policy == Policy::Lru && point.capacity >= exact_from;
    };
    std::string path;
    std::string marks;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double x = axis.x(points[i].capacity);
        const double y = y_of(points[i]);
        if (stepped(points[i]) && i + 1 < points.size() &&
            std::round(axis.x(points[i + 1].capacity)) == std::round(x)) {
            continue;  // the next point lands on the same pixel
        }
        if (path.empty()) {
            put(path, "M", x, " ", y);
        } else if (stepped(points[i])) {
            put(path, " H", x, " V", y);
        } else {
            put(path, " L", x, " ", y);
        }
        if (!stepped(points[i])) {
            put(marks, "<circle cx=\"", x, "\" cy=\"", y, "\" r=\"2.5\" fill=\"", color_of(policy), "\"/>\n");
        }
    }
    if (stepped(points.back())) {
        put(path, " H", kRight);  // nothing changes beyond the last point
    }
    put(out, "<path d=\"", path, "\" fill=\"none\" stroke=\"", color_of(policy), "\" stroke-width=\"2\"/>\n",
        marks);
}

void chart(std::string& out, const Curve& curve) {
    const Axis axis = axis_of(curve);
    frame(out, curve, axis);
    if (curve.reads == 0 || curve.points.empty()) {
        put(out, "<text x=\"", (kLeft + kRight) / 2, "\" y=\"", (kTop + kBottom) / 2,
            "\" text-anchor=\"middle\" fill=\"#555555\">",
            curve.reads == 0 ? "no reads recorded" : "nothing stored through the recorded handles",
            "</text>\n");
        return;
    }
    std::vector<Policy> shown;
    for (std::size_t begin = 0; begin < curve.points.size();) {
        std::size_t end = begin;
        while (end < curve.points.size() && curve.points[end].policy == curve.points[begin].policy) {
            ++end;
        }
        line(out, std::span(curve.points).subspan(begin, end - begin), axis, curve.exact_from);
        shown.push_back(curve.points[begin].policy);
        begin = end;
    }
    // The legend, in the top left corner, where low capacities rarely reach.
    put(out, "<rect x=\"", kLeft + 10, "\" y=\"", kTop + 10, "\" width=\"90\" height=\"",
        8 + 18.0 * static_cast<double>(shown.size()),
        "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#cccccc\"/>\n");
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const double y = kTop + 24 + 18.0 * static_cast<double>(i);
        put(out, "<line x1=\"", kLeft + 18, "\" y1=\"", y, "\" x2=\"", kLeft + 42, "\" y2=\"", y,
            "\" stroke=\"", color_of(shown[i]), "\" stroke-width=\"2\"/>\n");
        put(out, "<text x=\"", kLeft + 50, "\" y=\"", y, "\" dy=\"4\">", policy_text(shown[i]), "</text>\n");
    }
}

}  // namespace

std::string byte_label(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    std::size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (value == std::floor(value) || unit == 0) {
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    }
    return text;
}

std::string to_svg(std::span<const Curve> curves) {
    const double height = kHeight * static_cast<double>(std::max<std::size_t>(curves.size(), 1));
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    put(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"", kWidth, "\" height=\"", height,
        "\" viewBox=\"0 0 ", kWidth, " ", height, "\" font-family=\"sans-serif\" font-size=\"12\">\n");
    put(out, "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
    if (curves.empty()) {
        put(out, "<text x=\"", kWidth / 2, "\" y=\"", kHeight / 2,
            "\" text-anchor=\"middle\">no namespace in the recording</text>\n");
    }
    for (std::size_t i = 0; i < curves.size(); ++i) {
        put(out, "<g transform=\"translate(0 ", kHeight * static_cast<double>(i), ")\">\n");
        chart(out, curves[i]);
        put(out, "</g>\n");
    }
    put(out, "</svg>\n");
    return out;
}

}  // namespace velkfault::curve
