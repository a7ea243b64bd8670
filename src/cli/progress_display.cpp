#include "cli/progress_display.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/paths.h"

namespace nimbrel::cli {

namespace {

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int WholePercent(double fraction) {
    return static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0));
}

// A file name as the terminal may show it: control bytes (which would move the cursor) become
// '?', and it is cut to at most `room` bytes at a character boundary, with "..." when cut.
std::string ShownName(const std::string& name, std::size_t room) {
    std::string text;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        text += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    if (text.size() <= room) return text;
    if (room < 4) return {};
    std::size_t keep = room - 3;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
    return text.substr(0, keep) + "...";
}

}  // namespace

std::string FormatBytes(std::int64_t bytes) {
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(std::max<std::int64_t>(bytes, 0)) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string BarLine(const pipeline::BuildProgress& progress, double bytesPerSecond, int columns) {
    const std::size_t limit = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
    const int percent = WholePercent(progress.fraction);
    std::string pct = std::to_string(percent) + "%";
    pct.insert(0, 4 - pct.size(), ' ');
    if (limit < pct.size()) return {};

    std::string line;
    const std::size_t barWidth = std::min<std::size_t>(30, limit / 5);
    if (barWidth >= 5) {
        auto filled =
            static_cast<std::size_t>(std::clamp(progress.fraction, 0.0, 1.0) * static_cast<double>(barWidth));
        line += '[';
        line.append(filled, '#').append(barWidth - filled, '.').append("] ");
    }
    line += pct;
    auto add = [&](const std::string& piece) {
        if (!piece.empty() && line.size() + 2 + piece.size() <= limit) line += "  " + piece;
    };
    if (progress.bytesTotal > 0)
        add(FormatBytes(progress.bytesDone) + " of " + FormatBytes(progress.bytesTotal));
    if (bytesPerSecond > 0) add(FormatBytes(static_cast<std::int64_t>(bytesPerSecond)) + "/s");
    if (!progress.currentFile.empty() && line.size() + 2 < limit)
        add(ShownName(platform::FileNamePart(progress.currentFile), limit - line.size() - 2));
    return line;
}

ProgressDisplay::ProgressDisplay(std::ostream& err, Style style, int columns, Clock clock)
    : err_(err), style_(style), columns_(columns), clock_(clock ? std::move(clock) : Clock(SteadySeconds)) {}

ProgressDisplay::~ProgressDisplay() {
    Finish();
}

void ProgressDisplay::Overall(const pipeline::BuildProgress& progress) {
    if (style_ == Style::None) return;
    const double now = clock_();
    if (started_ < 0) started_ = now;
    const int percent = WholePercent(progress.fraction);
    if (style_ == Style::Lines) {
        // One line for each whole percent reached: at most 101 lines for a whole build.
        if (percent <= lastPercent_) return;
        lastPercent_ = percent;
        err_ << "progress " << percent << "%";
        if (progress.bytesTotal > 0)
            err_ << " (" << progress.bytesDone << " of " << progress.bytesTotal << " bytes)";
        if (!progress.currentFile.empty()) err_ << " " << ShownName(progress.currentFile, 4096);
        err_ << "\n" << std::flush;
        return;
    }
    const bool last = percent >= 100;
    if (!last && lastDraw_ >= 0 && now - lastDraw_ < kRedrawInterval) return;
    if (last && lastPercent_ >= 100) return;
    lastDraw_ = now;
    lastPercent_ = percent;
    const double elapsed = now - started_;
    // A rate over the first moments says little: it shows after half a second.
    const double rate = elapsed >= 0.5 ? static_cast<double>(progress.bytesDone) / elapsed : 0;
    Draw(BarLine(progress, rate, columns_));
}

void ProgressDisplay::Draw(const std::string& line) {
    // Spaces over what is left of a longer previous line; never beyond the terminal's width.
    std::string text = "\r" + line;
    if (drawnLength_ > line.size()) text.append(drawnLength_ - line.size(), ' ');
    err_ << text << std::flush;
    drawnLength_ = line.size();
    open_ = true;
}

void ProgressDisplay::Clear() {
    if (!open_) return;
    err_ << "\r" << std::string(drawnLength_, ' ') << "\r";
    drawnLength_ = 0;
    open_ = false;
}

void ProgressDisplay::Notice(const std::string& text) {
    Clear();
    err_ << "nimbrel-cli compile: warning: " << text << "\n" << std::flush;
    lastDraw_ = -1;  // the bar comes back with the next report
}

void ProgressDisplay::Finish() {
    if (!open_) return;
    err_ << "\n" << std::flush;
    open_ = false;
    drawnLength_ = 0;
}

}  // namespace nimbrel::cli
