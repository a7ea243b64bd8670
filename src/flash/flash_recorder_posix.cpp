// The recorder on POSIX systems: Chromium started as a child process, driven over the DevTools
// pipe on file descriptors 3 and 4. (Where the system has no such browser build, the other
// implementation, flash_recorder_unavailable.cpp, says so.)
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include "codecs/codecs.h"
#include "flash/flash_recorder.h"
#include "project/big_ini_file.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

extern char** environ;

namespace nimbrel::flash {

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Base64(const std::string& bytes) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += table[v >> 18], out += table[(v >> 12) & 63], out += table[(v >> 6) & 63],
            out += table[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += table[v >> 18], out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Unbase64(const std::string& text) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        int d;
        if (c >= 'A' && c <= 'Z')
            d = c - 'A';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            d = c - '0' + 52;
        else if (c == '+')
            d = 62;
        else if (c == '/')
            d = 63;
        else
            continue;
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// The page's clock: requestAnimationFrame, performance.now and Date.now answer only to
// __nimbrelTo(t), which moves the time to t and runs the waiting animation callbacks once.
constexpr const char* kClockScript = R"JS((() => {
  let now = 1000;
  let nextId = 1;
  let waiting = new Map();
  const epoch = 1262304000000;
  performance.now = () => now;
  Date.now = () => epoch + now;
  window.requestAnimationFrame = (cb) => { const id = nextId++; waiting.set(id, cb); return id; };
  window.cancelAnimationFrame = (id) => { waiting.delete(id); };
  window.__nimbrelTo = (t) => {
    if (t > now) now = t;
    const due = waiting;
    waiting = new Map();
    for (const cb of due.values()) { try { cb(now); } catch (e) { window.__nimbrelFault = String(e); } }
    return due.size;
  };
  window.__nimbrelNow = () => now;
})();)JS";

// The page that plays the movie. `canvas` picks Ruffle's 2D canvas renderer, which draws about
// twice as fast here as its WebGL ones (the browser has no GPU) but has no filters and few blend
// modes; the others are left to Ruffle's own choice.
std::string Page(int width, int height, std::uint32_t background, bool canvas) {
    char color[8];
    std::snprintf(color, sizeof color, "#%06X", background & 0xFFFFFF);
    std::string w = std::to_string(width) + "px", h = std::to_string(height) + "px";
    return std::string(R"(<!doctype html><html><head><meta charset="utf-8"><style>
html,body{margin:0;padding:0;overflow:hidden;background:)") +
           color + R"(}
#stage{position:absolute;left:0;top:0;width:)" +
           w + ";height:" + h + R"(;display:block}
</style><script>
window.RufflePlayer = {config: {autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
  letterbox: "off", contextMenu: "off", warnOnUnsupportedContent: false, allowNetworking: "none",
  openUrlMode: "deny", publicPath: "/ruffle/", polyfills: false, logLevel: "error",
  maxExecutionDuration: 5, )" +
           (canvas ? R"(preferredRenderer: "canvas", )" : "") + R"(backgroundColor: ")" + color + R"("}};
</script><script src="/ruffle/ruffle.js"></script></head><body><script>
window.__nimbrelState = "loading";
try {
  const player = window.RufflePlayer.newest().createPlayer();
  player.id = "stage";
  document.body.appendChild(player);
  player.addEventListener("loadeddata", () => { window.__nimbrelState = "loaded"; });
  player.addEventListener("loadedmetadata", () => { if (window.__nimbrelState === "loading") window.__nimbrelState = "metadata"; });
  const loading = player.load({url: "/movie.swf"});
  if (loading && loading.catch) loading.catch((e) => { window.__nimbrelState = "failed: " + e; });
} catch (e) { window.__nimbrelState = "failed: " + e; }
</script></body></html>)";
}

constexpr const char* kOrigin = "http://movie.nimbrel.invalid";

// A write into the pipe of a browser that has gone raises SIGPIPE, which would end this whole
// program: the signal is held back on this thread while the object lives, and one raised
// meanwhile is taken away, so that the write only fails (EPIPE).
class HoldBackSigpipe {
public:
    HoldBackSigpipe() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~HoldBackSigpipe() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec none{0, 0};
            sigtimedwait(&pipe_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    HoldBackSigpipe(const HoldBackSigpipe&) = delete;
    HoldBackSigpipe& operator=(const HoldBackSigpipe&) = delete;

private:
    sigset_t pipe_, old_;
    bool wasPending_ = false;
};

// Chromium in its own process group, with its DevTools pipe; killed with all its children and
// its profile removed when the object goes.
class Browser {
public:
    Browser(const std::string& program, int width, int height) {
        char profileTemplate[] = "/tmp/nimbrel-chromium-XXXXXX";
        if (!mkdtemp(profileTemplate)) throw RecordingError("cannot make a temporary browser profile");
        profile_ = profileTemplate;
        int toBrowser[2], fromBrowser[2];
        if (pipe(toBrowser) != 0) throw RecordingError("cannot open the browser's pipe");
        if (pipe(fromBrowser) != 0) {
            close(toBrowser[0]), close(toBrowser[1]);
            throw RecordingError("cannot open the browser's pipe");
        }
        std::vector<std::string> args{
            program, "--headless", "--remote-debugging-pipe", "--user-data-dir=" + profile_, "--no-first-run",
            "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--disable-extensions", "--disable-default-apps", "--disable-breakpad",
            "--disable-crash-reporter",
            "--disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication",
            "--metrics-recording-only", "--password-store=basic", "--mute-audio", "--hide-scrollbars",
            "--force-device-scale-factor=1", "--enable-unsafe-swiftshader",
            // Frames are drawn when asked for, not at the display's rate: a capture waits less.
            "--disable-gpu-vsync", "--disable-frame-rate-limit",
            // A second wall besides the page's request interception:
            // anything that still went out would meet a dead proxy.
            "--proxy-server=http://127.0.0.1:9", "--proxy-bypass-list=<-loopback>",
            "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
        // Chromium's sandbox cannot start for root; the page holds only the player package and
        // the user's own movie, and reaches nothing else.
        if (geteuid() == 0) args.push_back("--no-sandbox");
        args.push_back("about:blank");
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The browser reads commands from fd 3 and writes its answers to fd 4.
        posix_spawn_file_actions_adddup2(&actions, toBrowser[0], 3);
        posix_spawn_file_actions_adddup2(&actions, fromBrowser[1], 4);
        int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (devNull >= 0) {
            posix_spawn_file_actions_adddup2(&actions, devNull, 1);
            posix_spawn_file_actions_adddup2(&actions, devNull, 2);
        }
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (devNull >= 0) close(devNull);
        close(toBrowser[0]);
        close(fromBrowser[1]);
        write_ = toBrowser[1];
        read_ = fromBrowser[0];
        fcntl(write_, F_SETFD, FD_CLOEXEC);
        fcntl(read_, F_SETFD, FD_CLOEXEC);
        fcntl(write_, F_SETFL, O_NONBLOCK);
        fcntl(read_, F_SETFL, O_NONBLOCK);
        if (rc != 0) {
            Cleanup();
            throw RecordingError("the browser " + program + " could not be started");
        }
        pid_ = pid;
    }
    ~Browser() { Cleanup(); }
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Sends one message; false when the browser is gone or did not take it in time.
    bool Send(const std::string& message, Clock::time_point deadline) {
        std::string data = message;
        data.push_back('\0');
        std::size_t done = 0;
        HoldBackSigpipe hold;
        while (done < data.size()) {
            ssize_t n = write(write_, data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EPIPE) gone_ = true;
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            pollfd p{write_, POLLOUT, 0};
            if (!Wait(p, deadline)) return false;
        }
        return true;
    }

    // The next message, or false at the deadline or when the browser closed its end (gone()).
    bool Receive(std::string& message, Clock::time_point deadline) {
        for (;;) {
            auto end = buffer_.find('\0', scanned_);
            if (end != std::string::npos) {
                message = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                scanned_ = 0;
                return true;
            }
            scanned_ = buffer_.size();
            char chunk[1 << 16];
            ssize_t n = read(read_, chunk, sizeof chunk);
            if (n > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) {
                gone_ = true;
                return false;
            }
            if (errno != EAGAIN && errno != EINTR) {
                gone_ = true;
                return false;
            }
            pollfd p{read_, POLLIN, 0};
            if (!Wait(p, deadline)) return false;
        }
    }

    bool Gone() const { return gone_; }

private:
    bool Wait(pollfd& p, Clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        int rc = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (rc < 0 && errno != EINTR) return false;
        if (p.revents & (POLLERR | POLLNVAL)) {
            gone_ = true;
            return false;
        }
        if (rc == 0 && (Clock::now() >= deadline)) return false;
        return true;
    }

    void Cleanup() {
        if (write_ >= 0) close(write_);
        if (read_ >= 0) close(read_);
        write_ = read_ = -1;
        if (pid_ > 0) {
            // Closing the pipe asks the browser to quit; whatever is left of it is killed.
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = 0;
        }
        if (!profile_.empty()) {
            std::error_code ec;
            // The browser's helpers may still be writing for a moment after they were killed.
            for (int i = 0; i < 20; ++i) {
                fs::remove_all(profile_, ec);
                if (!fs::exists(profile_, ec)) break;
                usleep(50000);
            }
            profile_.clear();
        }
    }

    pid_t pid_ = 0;
    int write_ = -1, read_ = -1;
    std::string profile_;
    std::string buffer_;
    std::size_t scanned_ = 0;
    bool gone_ = false;
};

// What the page may load: the bytes, or the file to read them from when asked (the player's
// package holds two large builds of its code, of which the browser loads one).
struct Served {
    std::string type, bytes;
    fs::path file;
};

class Session {
public:
    Session(Browser& browser, std::string movieName, std::map<std::string, Served> files)
        : browser_(browser), movieName_(std::move(movieName)), files_(std::move(files)) {}

    // Sends a command (to the page once attached) and waits for its answer, serving the page's
    // requests meanwhile. Raises RecordingError at the deadline, when the browser goes away or
    // when the command fails.
    Json Call(const std::string& method, Json params, Clock::time_point deadline, bool toPage = true) {
        const int id = nextId_++;
        Json message{{"id", id}, {"method", method}, {"params", std::move(params)}};
        if (toPage && !sessionId_.empty()) message["sessionId"] = sessionId_;
        if (!browser_.Send(message.dump(), deadline)) Fail(method);
        for (;;) {
            std::string text;
            if (!browser_.Receive(text, deadline)) Fail(method);
            Json answer = Json::parse(text, nullptr, false);
            if (answer.is_discarded()) continue;
            if (answer.contains("id")) {
                if (answer["id"] != id) continue;
                if (answer.contains("error"))
                    throw RecordingError("the browser refused " + method + ": " +
                                         answer["error"].value("message", std::string("unknown error")));
                return answer.value("result", Json::object());
            }
            Event(answer, deadline);
        }
    }

    void Attach(const std::string& sessionId) { sessionId_ = sessionId; }
    const std::vector<std::string>& Blocked() const { return blocked_; }
    const std::vector<std::string>& Requested() const { return requested_; }

private:
    [[noreturn]] void Fail(const std::string& method) {
        if (browser_.Gone()) throw RecordingError("the browser stopped unexpectedly (during " + method + ")");
        throw RecordingError("the browser or the movie stopped answering (during " + method + ")");
    }

    void Event(const Json& event, Clock::time_point deadline) {
        const std::string method = event.value("method", std::string());
        if (method == "Inspector.targetCrashed") throw RecordingError("the browser's page crashed");
        if (method == "Network.requestWillBeSent" && event.contains("params") &&
            event["params"].contains("request")) {
            requested_.push_back(event["params"]["request"].value("url", std::string()));
            return;
        }
        if (method != "Fetch.requestPaused") return;
        const Json& params = event["params"];
        const std::string requestId = params.value("requestId", std::string());
        const std::string url =
            params.contains("request") ? params["request"].value("url", std::string()) : "";
        Json reply;
        std::string replyMethod, body;
        std::string path =
            url.rfind(kOrigin, 0) == 0 ? url.substr(std::string(kOrigin).size()) : std::string();
        if (auto q = path.find_first_of("?#"); q != std::string::npos) path.resize(q);
        auto file = files_.find(path);
        if (file != files_.end()) {
            replyMethod = "Fetch.fulfillRequest";
            reply = {
                {"requestId", requestId},
                {"responseCode", 200},
                {"responseHeaders", Json::array({{{"name", "Content-Type"}, {"value", file->second.type}},
                                                 {{"name", "Cache-Control"}, {"value", "no-store"}}})},
                {"body", ""}};
            body = Base64(file->second.file.empty() ? file->second.bytes : ReadWhole(file->second.file));
        } else {
            // Everything else, the network above all, is refused.
            if (!url.empty() && url.rfind("data:", 0) != 0 && url.rfind("blob:", 0) != 0)
                blocked_.push_back(url);
            replyMethod = "Fetch.failRequest";
            reply = {{"requestId", requestId}, {"errorReason", "BlockedByClient"}};
        }
        Json message{{"id", nextId_++}, {"method", replyMethod}, {"params", reply}};
        if (event.contains("sessionId")) message["sessionId"] = event["sessionId"];
        std::string text = message.dump();
        // The body (up to 20 MB for the player's code) goes into the message text only once.
        if (const auto at = text.find("\"body\":\"\""); !body.empty() && at != std::string::npos)
            text.insert(at + 8, body);
        if (!browser_.Send(text, deadline)) Fail(replyMethod);
    }

    Browser& browser_;
    std::string movieName_;
    std::map<std::string, Served> files_;
    std::string sessionId_;
    int nextId_ = 1;
    std::vector<std::string> blocked_, requested_;
};

imaging::Image Decode(const std::string& picture) {
    auto decoder = codecs::MakeLibraryDecoder();
    auto source =
        decoder->Open("frame", {reinterpret_cast<const std::uint8_t*>(picture.data()), picture.size()});
    if (!source) return {};
    return imaging::ReadWholePicture(*source);
}

std::string ContentType(const fs::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".js") return "text/javascript";
    if (ext == ".wasm") return "application/wasm";
    if (ext == ".map") return "application/json";
    return "application/octet-stream";
}

}  // namespace

Recording RecordMovie(const std::string& swfPath, const std::string& outDir, const RecorderSetup& setup,
                      const RecordOptions& options) {
    if (!setup.Available()) throw RecordingError(swfPath + " was not recorded: " + setup.missing);
    Recording recording;
    try {
        recording.info = ReadSwfFile(swfPath);
    } catch (const SwfError& e) {
        throw RecordingError(e.what());
    }
    const SwfInfo& info = recording.info;
    CaptureSize(info, recording.width, recording.height);
    recording.frameRate = PlayingFrameRate(info);
    const int total = FramesToRecord(info, options.fixedSeconds);

    std::map<std::string, Served> files;
    {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(setup.playerDir, ec)) {
            const auto ext = entry.path().extension();
            if (entry.is_regular_file() && (ext == ".js" || ext == ".wasm"))
                files["/ruffle/" + entry.path().filename().string()] = {ContentType(entry.path()), "",
                                                                        entry.path()};
        }
        if (ec || files.find("/ruffle/ruffle.js") == files.end())
            throw RecordingError(swfPath + " was not recorded: the Ruffle package in " + setup.playerDir +
                                 " cannot be read");
        std::ifstream movie(swfPath, std::ios::binary);
        if (!movie) throw RecordingError(swfPath + " cannot be read");
        std::error_code sizeError;
        const auto size = fs::file_size(swfPath, sizeError);
        if (!sizeError && size > kMaxRecordedMovieBytes)
            throw RecordingError(swfPath + " is too large to record (" + std::to_string(size) +
                                 " bytes; the recorder takes movies of up to " +
                                 std::to_string(kMaxRecordedMovieBytes >> 20) + " MB)");
        files["/movie.swf"] = {"application/x-shockwave-flash", ReadWhole(swfPath), {}};
        files["/index.html"] = {
            "text/html", Page(recording.width, recording.height, info.background, !info.effects), {}};
    }

    auto fail = [&](const std::string& what) -> RecordingError {
        return RecordingError(swfPath + " could not be recorded: " + what);
    };
    const auto started = Clock::now();
    const auto startDeadline = started + options.startLimit;
    const double seconds = total / recording.frameRate;
    // The frames get three times the movie's length from the moment it has loaded, and a tenth
    // of a second more for each: a machine busy with other work is slow, but a recording that
    // stalls still ends in bounded time (and a single step that hangs, after stepLimit).
    const auto framesLimit =
        std::chrono::milliseconds(static_cast<long long>(3000 * seconds) + 100LL * total + 5000);
    auto endDeadline = startDeadline + framesLimit;

    try {
        Browser browser(setup.browser, recording.width, recording.height);
        Session session(browser, swfPath, std::move(files));
        Json target = session.Call("Target.createTarget", {{"url", "about:blank"}}, startDeadline, false);
        Json attached = session.Call(
            "Target.attachToTarget",
            {{"targetId", target.value("targetId", std::string())}, {"flatten", true}}, startDeadline, false);
        session.Attach(attached.value("sessionId", std::string()));
        session.Call("Fetch.enable", {{"patterns", Json::array({{{"urlPattern", "*"}}})}}, startDeadline);
        session.Call("Page.enable", Json::object(), startDeadline);
        // Only to list what the page asked for: no bodies are kept.
        session.Call("Network.enable", {{"maxTotalBufferSize", 0}, {"maxResourceBufferSize", 0}},
                     startDeadline);
        session.Call("Page.addScriptToEvaluateOnNewDocument", {{"source", kClockScript}}, startDeadline);
        session.Call("Emulation.setDeviceMetricsOverride",
                     {{"width", recording.width},
                      {"height", recording.height},
                      {"deviceScaleFactor", 1},
                      {"mobile", false}},
                     startDeadline);
        session.Call("Page.navigate", {{"url", std::string(kOrigin) + "/index.html"}}, startDeadline);

        auto evaluate = [&](const std::string& expression, Clock::time_point deadline) {
            Json result = session.Call(
                "Runtime.evaluate",
                {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", false}}, deadline);
            if (result.contains("exceptionDetails")) return Json();
            return result.contains("result") ? result["result"].value("value", Json()) : Json();
        };
        auto stepLimit = [&](Clock::time_point cap) {
            return std::min(cap, Clock::now() + options.stepLimit);
        };

        // Waits for the movie to load; zero-length steps keep the player's animation callbacks
        // turning without moving its clock.
        for (;;) {
            if (options.progress && !options.progress(0, total)) throw RecordingCancelled();
            Json state =
                evaluate("(window.__nimbrelTo ? (window.__nimbrelTo(0), window.__nimbrelState) : 'none')",
                         startDeadline);
            const std::string text = state.is_string() ? state.get<std::string>() : "";
            if (text == "loaded") break;
            if (text.rfind("failed", 0) == 0)
                throw fail("the player could not load it (" + text.substr(8) + ")");
            if (Clock::now() >= startDeadline) throw fail("the player did not load it in time");
            usleep(20000);
        }
        endDeadline = Clock::now() + framesLimit;
        // A few turns at time zero let the player settle before its clock moves.
        for (int i = 0; i < 3; ++i) evaluate("window.__nimbrelTo(0)", startDeadline);
        Json base = evaluate("window.__nimbrelNow()", startDeadline);
        const double t0 = base.is_number() ? base.get<double>() : 1000.0;
        const double frameTime = 1000.0 / recording.frameRate;
        // Each frame's time is set absolutely, a fixed quarter frame past its start, so rounding
        // never adds up and the player never sees a step shorter than a frame.
        const double bias = frameTime / 4;

        std::string first, previous;
        std::string previousFile;
        for (int k = 0; k < total; ++k) {
            if (options.progress && !options.progress(k, total)) throw RecordingCancelled();
            {
                // The player runs the movie's first frame at its first step that moves the clock.
                char expression[96];
                std::snprintf(expression, sizeof expression, "window.__nimbrelTo(%.6f)",
                              t0 + bias + (k + 1) * frameTime);
                evaluate(expression, stepLimit(endDeadline));
            }
            Json capture{{"format", options.losslessFrames ? "png" : "jpeg"},
                         {"clip",
                          {{"x", 0},
                           {"y", 0},
                           {"width", recording.width},
                           {"height", recording.height},
                           {"scale", 1}}},
                         {"captureBeyondViewport", false},
                         {"optimizeForSpeed", true}};
            if (!options.losslessFrames) capture["quality"] = options.jpegQuality;
            Json shot = session.Call("Page.captureScreenshot", std::move(capture), stepLimit(endDeadline));
            std::string bytes = Unbase64(shot.value("data", std::string()));
            if (bytes.size() < 4)
                throw fail("the browser returned an empty picture for frame " + std::to_string(k));
            if (bytes != previous) {
                char name[32];
                std::snprintf(name, sizeof name, "f%05d.%s", recording.distinctFrames,
                              options.losslessFrames ? "png" : "jpg");
                previousFile = (fs::path(outDir) / name).string();
                std::ofstream out(previousFile, std::ios::binary);
                out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                if (!out.flush()) throw fail("the frame " + previousFile + " cannot be written");
                if (first.empty()) first = bytes;
                previous = std::move(bytes);
                ++recording.distinctFrames;
            }
            recording.frameFiles.push_back(previousFile);
        }
        if (recording.distinctFrames > 1 && LooksTheSame(Decode(first), Decode(previous))) {
            recording.frameFiles.pop_back();
            if (recording.frameFiles.back() != previousFile) {
                std::error_code ec;
                fs::remove(previousFile, ec);
                --recording.distinctFrames;
            }
        }
        if (options.progress && !options.progress(total, total)) throw RecordingCancelled();
        recording.blockedUrls = session.Blocked();
        recording.requestedUrls = session.Requested();
    } catch (const RecordingCancelled&) {
        throw;
    } catch (const RecordingError& e) {
        const std::string message = e.what();
        if (message.rfind(swfPath, 0) == 0) throw;
        throw fail(message);
    } catch (const std::exception& e) {
        throw fail(e.what());
    }
    return recording;
}

}  // namespace nimbrel::flash
