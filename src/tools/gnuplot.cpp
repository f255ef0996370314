// gnuplot fed through a pipe, writing into a staged file.
#include "gnuplot.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "process.h"
#include "samples.h"
#include "text.h"

namespace {

// The last bytes of every complete PNG file: the empty IEND chunk and its CRC.
constexpr std::string_view kPngEnd{"\0\0\0\0IEND\xae\x42\x60\x82", 12};

bool png_complete(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kPngEnd.size())) return false;
    char tail[kPngEnd.size()];
    const off_t at = info.st_size - static_cast<off_t>(kPngEnd.size());
    return ::pread(fd, tail, sizeof tail, at) == static_cast<ssize_t>(sizeof tail) &&
           std::string_view(tail, sizeof tail) == kPngEnd;
}

// The first line gnuplot wrote on its standard error, as ": LINE", or "".
std::string first_message(int fd) {
    char text[512];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    std::string_view messages(text, got > 0 ? std::size_t(got) : 0);
    while (!messages.empty() && (messages.front() == '\n' || messages.front() == ' ')) messages.remove_prefix(1);
    messages = messages.substr(0, messages.find('\n'));
    return messages.empty() ? "" : ": " + std::string(messages);
}

}  // namespace

std::string plot_title(const std::string& text) {
    constexpr std::string_view kPlain = " -_.,:=+/()%";
    std::string title;
    for (const char c : text) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || kPlain.find(c) != std::string_view::npos;
        title += plain && static_cast<unsigned char>(c) < 0x80 ? c : '?';
    }
    return title;
}

std::optional<OutputTarget> plot_target(RunFiles& files, const std::string& path) {
    if (path.empty()) return std::nullopt;
    const OutputTarget target = files.output(path);
    if (!executable_in_path("gnuplot")) throw std::runtime_error("--plot needs gnuplot, which is not installed");
    return target;
}

std::unique_ptr<StagedFile> draw_with_gnuplot(const std::string& script, const OutputTarget& target) {
    if (target.destination == Destination::discard) return nullptr;
    // gnuplot writes to descriptor 3, the temporary file: no name of the
    // user's ever reaches its script.
    auto staged = std::make_unique<StagedFile>(target);
    // A gnuplot that dies early must give an error here, not a SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Its warnings are no business of the user's; its errors say why it failed.
    const Descriptor errors(::memfd_create("gnuplot-errors", MFD_CLOEXEC));
    if (errors.fd < 0) fail_in(target.shown, std::string("cannot keep gnuplot's messages: ") + std::strerror(errno));
    // Descriptor 3 itself would be copied onto itself, which keeps it closed
    // on exec: a copy above it is passed instead (one descriptor more).
    const Descriptor above(staged->descriptor() == 3 ? ::fcntl(3, F_DUPFD_CLOEXEC, 4) : -1);
    if (staged->descriptor() == 3 && above.fd < 0) {
        fail_in(target.shown, std::string("cannot pass the picture's file: ") + std::strerror(errno));
    }
    Child child;
    spawn(child, "gnuplot", {}, {true, above.fd >= 0 ? above.fd : staged->descriptor(), errors.fd});
    std::size_t written = 0;
    while (written < script.size()) {
        const ssize_t put = ::write(child.fd, script.data() + written, script.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<std::size_t>(put);
    }
    const int status = child.wait();
    if (status != 0 || written != script.size()) {
        throw std::runtime_error("gnuplot failed (exit status " + std::to_string(status) + ") drawing " + target.shown +
                                 first_message(errors.fd));
    }
    if (!png_complete(staged->descriptor())) {
        throw std::runtime_error(target.shown + ": gnuplot could not write the whole picture");
    }
    staged->close_written();
    return staged;
}

std::string heat_map_script(const HeatMap& map) {
    const auto tics = [](const std::vector<std::string>& labels) {
        std::string text = "(";
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i > 0) text += ", ";
            text += '\'';
            text += plot_title(labels[i]);
            text += "' ";
            text += std::to_string(i);
        }
        return text + ")";
    };
    const std::size_t columns = map.x_labels.size(), rows = map.y_labels.size();
    // Wide enough for the cells and for the title (about 9 pixels a character).
    const std::string width =
        std::to_string(std::max({std::size_t(480), 120 + 56 * columns, 60 + 9 * map.title.size()}));
    const std::string height = std::to_string(std::max<std::size_t>(360, 110 + 44 * rows));
    std::string script = "set terminal png size " + width + "," + height + "\n" + "set output '" + kGnuplotOutput +
                         "'\n" + "set title '" + plot_title(map.title) + "' noenhanced\n" + "set xlabel '" +
                         plot_title(map.x_title) + "' noenhanced\n" + "set ylabel '" + plot_title(map.y_title) +
                         "' noenhanced\n" + "set cblabel '" + plot_title(map.key_title) + "' noenhanced\n" +
                         "set xrange [-0.5:" + std::to_string(columns) + "-0.5]\n" + "set yrange [" +
                         std::to_string(rows) + "-0.5:-0.5]\n" + "set xtics " + tics(map.x_labels) + "\n" +
                         "set ytics " + tics(map.y_labels) + "\n" +
                         "set palette defined (0 '#ffffff', 1 '#9ecae1', 2 '#2171b5')\n"
                         "set tics scale 0\n"
                         "unset key\n"
                         "$cells << EOD\n";
    for (const std::vector<double>& row : map.values) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) script += ' ';
            script += printed("%.17g", row[c]);
        }
        script += "\n";
    }
    const std::string label = "sprintf('%." + std::to_string(map.decimals) + "f', $3)";
    // Each cell a box of its own colour: gnuplot's images need a grid of at
    // least 2 x 2, and a grid of one row or column is common here.
    return script + "EOD\n" +
           "plot $cells matrix using 1:2:(0.5):(0.5):3 with boxxyerror fill solid noborder fc palette, $cells matrix "
           "using 1:2:(" +
           label +
           ") with labels\n"
           "set output\n";
}
