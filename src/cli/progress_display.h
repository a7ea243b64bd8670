#pragma once
// The build's progress on the console: one bar on a terminal that only moves forward and
// redraws itself at most ten times a second, plain lines when asked for, or nothing.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "pipeline/build_pipeline.h"

namespace nimbrel::cli {

// "512 B", "12.3 KiB", "4.0 MiB", "1.2 GiB".
std::string FormatBytes(std::int64_t bytes);

// The bar's text for a terminal `columns` wide: never longer than columns - 1 (a full line
// would make some terminals wrap). The percentage always shows; the bar, the byte counts, the
// rate and the file name (cut to fit) follow as room allows. `bytesPerSecond` <= 0 leaves the
// rate out.
std::string BarLine(const pipeline::BuildProgress& progress, double bytesPerSecond, int columns);

class ProgressDisplay : public pipeline::BuildReporter {
public:
    enum class Style { None, Bar, Lines };
    using Clock = std::function<double()>;  // seconds, from any fixed point

    ProgressDisplay(std::ostream& err, Style style, int columns, Clock clock = {});
    ~ProgressDisplay() override;

    // The window's bar positions go back to 0 for each step: the console shows Overall instead.
    void Progress(int) override {}
    void Overall(const pipeline::BuildProgress& progress) override;
    // Warnings that do not end the build, such as "Unable to Change Icon".
    void Notice(const std::string& text) override;
    // Ends the bar's line, so that what follows starts on a line of its own.
    void Finish();

    static constexpr double kRedrawInterval = 0.1;

private:
    void Draw(const std::string& line);
    void Clear();

    std::ostream& err_;
    Style style_;
    int columns_;
    Clock clock_;
    double started_ = -1;
    double lastDraw_ = -1;
    int lastPercent_ = -1;
    std::size_t drawnLength_ = 0;
    bool open_ = false;
};

}  // namespace nimbrel::cli
