#include "tools/render/batch_render.h"

#include <epoxy/gl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>
#include <utility>

#include "app/app_state.h"
#include "app/picture_file.h"
#include "platform/files/file_replace.h"
#include "platform/gpu/gpu.h"
#include "platform/shell/shell.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "slicing/orbit_view.h"
#include "slicing/slice_geometry.h"
#include "ui/tab.h"
#include "ui/tab_layout.h"
#include "volume/scan_import.h"
#include "volume/scan_input_files.h"
#include "volume/volume.h"
#include "volume/volume_file.h"
#include "volume/volume_read.h"

namespace batch {
namespace {

// The message boxes of the running session, as the shell hands them over.
struct SessionBox {
    std::string text, caption;
    shell::UINT type;
};
std::vector<SessionBox> SessionBoxes;

// Large enough for any real screen; a 3D texture and a target beyond this
// are refused by most drivers anyway.
constexpr int kMaxImageSide = 8192;
constexpr int kMaxFrames = 100000;
constexpr int kMaxTurntable = 9999;  // four digits in the pictures' names

bool ParseInt(const std::string& text, int* value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

enum class Number { Read, NotANumber, TooLarge };

// A decimal number as a double: one too small for a double is 0 (as near as
// it can be held), one too large is said to be.
Number ParseNumber(const std::string& text, double* value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    if (ptr != end || text.empty())
        return Number::NotANumber;
    if (ec == std::errc::result_out_of_range) {
        // The syntax is sound; only its size is out of range either way.
        const double rounded = std::strtod(text.c_str(), nullptr);
        if (std::isinf(rounded))
            return Number::TooLarge;
        *value = rounded;
        return Number::Read;
    }
    return ec == std::errc() && std::isfinite(*value) ? Number::Read : Number::NotANumber;
}

bool ParseSize(const std::string& text, int* width, int* height) {
    const size_t x = text.find_first_of("xX");
    return x != std::string::npos && ParseInt(text.substr(0, x), width) &&
           ParseInt(text.substr(x + 1), height);
}

// "X0,X1,Y0,Y1,Z0,Z1": six fractions of the box, each 0..1, low <= high.
std::string ParseCrop(const std::string& text, CropBox* crop) {
    double values[6];
    size_t start = 0;
    for (int i = 0; i < 6; ++i) {
        const size_t comma = text.find(',', start);
        const bool last = i == 5;
        const Number read =
            (comma == std::string::npos) != last
                ? Number::NotANumber
                : ParseNumber(text.substr(start, last ? std::string::npos : comma - start), &values[i]);
        if (read == Number::NotANumber)
            return "--crop takes six numbers X0,X1,Y0,Y1,Z0,Z1, not \"" + text + "\"";
        if (read == Number::TooLarge || values[i] < 0.0 || values[i] > 1.0)
            return "--crop takes fractions of the box from 0 to 1, not \"" + text + "\"";
        start = comma + 1;
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (values[2 * axis] > values[2 * axis + 1])
            return std::string("--crop: ") + "XYZ"[axis] + "0 is greater than " + "XYZ"[axis] + "1 in \"" +
                   text + "\"";
        crop->low[axis] = static_cast<float>(values[2 * axis]);
        crop->high[axis] = static_cast<float>(values[2 * axis + 1]);
    }
    return {};
}

// "X,Y": the pan, two finite numbers within the wheel's farthest distance.
std::string ParsePan(const std::string& text, float* x, float* y) {
    const size_t comma = text.find(',');
    double values[2];
    const bool read = comma != std::string::npos &&
                      ParseNumber(text.substr(0, comma), &values[0]) == Number::Read &&
                      ParseNumber(text.substr(comma + 1), &values[1]) == Number::Read;
    if (!read)
        return "--pan takes two numbers X,Y (box lengths right and up), not \"" + text + "\"";
    if (std::fabs(values[0]) > kMaxDistance || std::fabs(values[1]) > kMaxDistance)
        return "--pan takes numbers from -100 to 100, not \"" + text + "\"";
    *x = static_cast<float>(values[0]);
    *y = static_cast<float>(values[1]);
    return {};
}

void ReleaseDeviceAndScene() {
    ReleaseDevice();
    Volume.Unload();
    EditorTab.Release();
}

}  // namespace

Options::Options() {
    const OrbitCameraRecord start;
    pitch = start.pitch;
    yaw = start.yaw;
    distance = start.distance;
}

std::string Absolute(const std::string& path) {
    if (path.empty())
        return path;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

const char* UsageText() {
    return "usage: tamlo-render VOLUME [options]\n"
           "Renders a volume file or a scan (NIfTI, NRRD, MetaImage, a DICOM file or folder, a TIFF\n"
           "stack) exactly as the viewer shows it, on a headless device, to a PNG.\n"
           "\n"
           "  --tf FILE          transfer function (.tf) to draw through (default: grey and opacity ramps);\n"
           "                     with several channels given up to 4 times, the k-th for the k-th channel\n"
           "                     (a channel without one keeps its ramp in its colour)\n"
           "  --size WxH         image size in pixels (default 1280x1024)\n"
           "  --pitch RADIANS    camera pitch (default 1)\n"
           "  --yaw RADIANS      camera yaw (default 0)\n"
           "  --distance D       camera distance from the volume's centre, 0.25 to 100 (default 4)\n"
           "  --panel open|closed  the transfer-function panel (default closed)\n"
           "  --view front|back|left|right|top|bottom  a standard view (pitch and yaw) in the scans'\n"
           "                     orientation (x to the patient's left, y to the head, z to the back)\n"
           "  --crop X0,X1,Y0,Y1,Z0,Z1  draw only this part of the box, as fractions 0..1 per axis\n"
           "                     (of a store, only that part is read, at the finest level that fits it)\n"
           "  --pan X,Y          move the view in the screen's plane, as the viewer's middle-button drag:\n"
           "                     the box's centre X box lengths right and Y up at its depth (default 0,0)\n"
           "  --boundaries       outline the box, with the patient's directions at its faces (View >\n"
           "                     Boundaries)\n"
           "  --slices x=N,y=N,z=N  opaque planes of the samples on those voxel layers (from 0; any of\n"
           "                     them): x sagittal, y axial, z coronal (the Slices menu)\n"
           "  --slice-outlines   each plane outlined in its axis' colour (Slices > Show Boundaries)\n"
           "  --background dark-blue|black|grey|white  what lies behind the volume (default dark-blue)\n"
           "  --transparent      a PNG with alpha: the background left out (alpha 0 where nothing shows)\n"
           "  -o, --output PNG   where to write the picture (default tamlo-render.png)\n"
           "  --frames N         render N frames and print each one's time and the median, min and max\n"
           "                     (each frame also with the CPU time of all the program's threads)\n"
           "  --timing full|unchanged|drag|point-drag|wheel|plane-wheel|play  what the timed frames\n"
           "                     are (default full): a full redraw, a frame that reuses the volume\n"
           "                     layer, a rotation drag's frame, a frame of a control point's drag on\n"
           "                     the open panel (then the time until the whole picture is refined after\n"
           "                     the last move), one wheel notch (the time to the first frame that\n"
           "                     shows it, then to the whole picture), one Ctrl+wheel notch over the\n"
           "                     last plane of --slices (moving it a voxel, timed as a notch), or a\n"
           "                     series playing, each frame the next time point as the viewer draws it\n"
           "                     while playing (then the frames per second), each after one full frame\n"
           "  --turntable N      N pictures turning once around the vertical axis from the start yaw,\n"
           "                     OUT-0001.png to OUT-N.png (OUT: the output's name without .png)\n"
           "  --time N           draw time point N of a series (counted from 0; default 0)\n"
           "  --time-series      one picture per time point, OUT-0001.png onwards, named as --turntable's\n"
           "  --level N          an OME-Zarr store's level to draw, 0 the finest (default: the finest\n"
           "                     whose edges fit --max-edge, 2048 unless given, and the memory)\n"
           "  --max-edge N       the longest grid edge a store's level may have when none is named\n"
           "  --values ct|auto|full|LOW,HIGH  a scan's window of values mapped onto 0..4095 (default: ct\n"
           "                     for a CT, else auto; ignored for a volume file)\n"
           "  --shading on|off   light the volume by its gradient (default on), as View > Shading\n"
           "  --mode composite|mip|minip  blend the samples along each pixel (default), or show the\n"
           "                     transfer function at the largest (mip) or smallest (minip) sample\n"
           "  --volume-pass slices|cpu  who draws the volume: the GPU's slices, or the program's own\n"
           "                     rays on the CPU (default: the CPU on a software rasteriser such as\n"
           "                     llvmpipe, else the slices; TAMLO_VOLUME_PASS chooses as well)\n"
           "  --data DIR         folder holding fx.fx and tam_ui.dds (default: each is looked for in the\n"
           "                     current folder, then the installed share/tamlo, then the build's data)\n"
           "  -h, --help         this text\n"
           "\n"
           "Errors print one line to stderr and exit with status 1 (2 for a bad command line).\n";
}

std::string ParseOptions(int argc, const char* const* argv, Options* options) {
    Options& o = *options;
    bool haveVolume = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            return {};
        }
        // Options that take a value accept "--name value" and "--name=value".
        std::string name = arg, value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            name = arg.substr(0, arg.find('='));
            value = arg.substr(arg.find('=') + 1);
            hasValue = true;
        }
        static const char* const kValued[] = {
            "--tf",     "--size",    "--pitch",    "--yaw",  "--distance",   "--panel",
            "--output", "-o",        "--frames",   "--data", "--timing",     "--turntable",
            "--values", "--shading", "--mode",     "--view", "--crop",       "--volume-pass",
            "--time",   "--level",   "--max-edge", "--pan",  "--background", "--slices"};
        const bool valued = std::find_if(std::begin(kValued), std::end(kValued),
                                         [&](const char* v) { return name == v; }) != std::end(kValued);
        if (valued && !hasValue) {
            if (i + 1 >= argc)
                return "option " + name + " needs a value";
            value = argv[++i];
        }
        if (!valued && hasValue)
            return "unknown option " + name;
        if (name == "--tf") {
            if (value.empty())
                return "--tf needs a file name";
            if (o.tfPath.empty())
                o.tfPath = value;
            else if (o.moreTfPaths.size() + 1 < kMaxShownChannels)
                o.moreTfPaths.push_back(value);
            else
                return "--tf given more than " + std::to_string(kMaxShownChannels) +
                       " times: at most that many channels are drawn";
        } else if (name == "--size") {
            if (!ParseSize(value, &o.width, &o.height) || o.width < 1 || o.height < 1 ||
                o.width > kMaxImageSide || o.height > kMaxImageSide)
                return "--size takes WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxImageSide) + ", not \"" +
                       value + "\"";
        } else if (name == "--pitch" || name == "--yaw" || name == "--distance") {
            float* target = name == "--pitch" ? &o.pitch : name == "--yaw" ? &o.yaw : &o.distance;
            double number = 0;
            const Number read = ParseNumber(value, &number);
            if (read == Number::NotANumber)
                return name + " takes a finite number, not \"" + value + "\"";
            o.anglesGiven = o.anglesGiven || name != "--distance";
            // The viewer's own range: the wheel stops there, and the frame's
            // buffers are sized for it.
            if (name == "--distance" &&
                (read == Number::TooLarge || !(number >= kMinDistance && number <= kMaxDistance))) {
                char range[64];
                std::snprintf(range, sizeof(range), "%g to %g", kMinDistance, kMaxDistance);
                return "--distance must be from " + std::string(range) + ", not \"" + value + "\"";
            }
            if (read == Number::TooLarge)
                return name + " takes a finite number; \"" + value + "\" is past the largest, about 1.8e308";
            // An angle past a float's range is the same angle less whole
            // turns; within it the angle is kept as given, as the viewer would.
            if (std::fabs(number) > std::numeric_limits<float>::max())
                number = std::fmod(number, 2.0 * M_PI);
            *target = static_cast<float>(number);
        } else if (name == "--panel") {
            if (value != "open" && value != "closed")
                return "--panel takes open or closed, not \"" + value + "\"";
            o.panelOpen = value == "open";
        } else if (name == "-o" || name == "--output") {
            if (value.empty())
                return name + " needs a file name";
            o.outputPath = value;
        } else if (name == "--frames") {
            if (!ParseInt(value, &o.frames) || o.frames < 1 || o.frames > kMaxFrames)
                return "--frames takes a count from 1 to " + std::to_string(kMaxFrames) + ", not \"" + value +
                       "\"";
        } else if (name == "--timing") {
            if (value == "full")
                o.timing = Options::Timing::Full;
            else if (value == "unchanged")
                o.timing = Options::Timing::Unchanged;
            else if (value == "drag")
                o.timing = Options::Timing::Drag;
            else if (value == "point-drag")
                o.timing = Options::Timing::PointDrag;
            else if (value == "wheel")
                o.timing = Options::Timing::Wheel;
            else if (value == "plane-wheel")
                o.timing = Options::Timing::PlaneWheel;
            else if (value == "play")
                o.timing = Options::Timing::Play;
            else
                return "--timing takes full, unchanged, drag, point-drag, wheel, plane-wheel or play, not "
                       "\"" +
                       value + "\"";
        } else if (name == "--time") {
            if (!ParseInt(value, &o.timePoint) || o.timePoint < 0)
                return "--time takes a time point counted from 0, not \"" + value + "\"";
        } else if (name == "--level" || name == "--max-edge") {
            int number = 0;
            if (!ParseInt(value, &number) || number < (name == "--level" ? 0 : 1))
                return name +
                       (name == "--level" ? " takes a store's level counted from 0 (the finest), not \""
                                          : " takes an edge of at least 1 sample, not \"") +
                       value + "\"";
            if (name == "--level")
                o.values.level = number;
            else
                o.values.maxEdge = static_cast<uint32_t>(number);
        } else if (name == "--time-series") {
            o.timeSeries = true;
        } else if (name == "--turntable") {
            if (!ParseInt(value, &o.turntable) || o.turntable < 1 || o.turntable > kMaxTurntable)
                return "--turntable takes a count from 1 to " + std::to_string(kMaxTurntable) + ", not \"" +
                       value + "\"";
        } else if (name == "--view") {
            StandardView view;
            if (!StandardViewNamed(value.c_str(), &view))
                return "--view takes front, back, left, right, top or bottom, not \"" + value + "\"";
            const OrbitAngles angles = StandardViewAngles(view);
            o.pitch = angles.pitch;
            o.yaw = angles.yaw;
            o.viewGiven = true;
        } else if (name == "--crop") {
            const std::string problem = ParseCrop(value, &o.crop);
            if (!problem.empty())
                return problem;
        } else if (name == "--pan") {
            const std::string problem = ParsePan(value, &o.panX, &o.panY);
            if (!problem.empty())
                return problem;
        } else if (name == "--background") {
            bool known = false;
            for (Background b : kBackgrounds)
                if (value == BackgroundName(b)) {
                    o.background = b;
                    known = true;
                }
            if (!known)
                return "--background takes dark-blue, black, grey or white, not \"" + value + "\"";
        } else if (name == "--boundaries") {
            o.boundaries = true;
        } else if (name == "--slices") {
            const std::string problem = ParsePlaneList(value, &o.slices);
            if (!problem.empty())
                return problem;
        } else if (name == "--slice-outlines") {
            o.slices.outlines = true;
        } else if (name == "--transparent") {
            o.transparent = true;
        } else if (name == "--data") {
            o.dataDir = value;
        } else if (name == "--values") {
            if (!ParseValueChoice(value, &o.values))
                return "--values takes ct, auto, full or LOW,HIGH (LOW below HIGH, both finite), not \"" +
                       value + "\"";
        } else if (name == "--shading") {
            if (value != "on" && value != "off")
                return "--shading takes on or off, not \"" + value + "\"";
            o.shading = value == "on";
        } else if (name == "--volume-pass") {
            if (!VolumePassNamed(value.c_str(), &o.volumePass))
                return "--volume-pass takes slices or cpu, not \"" + value + "\"";
        } else if (name == "--mode") {
            if (value == "composite")
                o.mode = Options::Mode::Composite;
            else if (value == "mip")
                o.mode = Options::Mode::Maximum;
            else if (value == "minip")
                o.mode = Options::Mode::Minimum;
            else
                return "--mode takes composite, mip or minip, not \"" + value + "\"";
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + name;
        } else if (haveVolume) {
            return "one volume file only (\"" + o.volumePath + "\" and \"" + arg + "\" were given)";
        } else {
            o.volumePath = arg;
            haveVolume = true;
        }
    }
    if (!haveVolume)
        return "no volume file given (see --help)";
    if (o.viewGiven && o.anglesGiven)
        return "--view sets the pitch and yaw; it does not go with --pitch or --yaw";
    if (o.turntable > 0 && o.frames > 0)
        return "--turntable and --frames do not go together (time a turntable with --frames alone)";
    if (o.timeSeries && (o.turntable > 0 || o.frames > 0))
        return std::string("--time-series and ") + (o.turntable > 0 ? "--turntable" : "--frames") +
               " do not go together (time a series' play with --frames N --timing play)";
    if (o.timing == Options::Timing::PlaneWheel && !AnyPlaneShown(o.slices))
        return "--timing plane-wheel moves a plane: give one with --slices";
    if (o.timeSeries && o.timePoint >= 0)
        return "--time draws one time point; it does not go with --time-series";
    return {};
}

DataFolderList DataFoldersFor(const std::string& requested) {
    if (!requested.empty())
        return {requested};
    // build/tools/render/tamlo-render draws with build/data.
    return MakeDataFolders(ExecutableFolder(), "../../data");
}

std::string CheckVolumeInput(const std::string& path) {
    // Whether the file is a scan is the load's to find out, as in the
    // viewer: its one reading child recognises and reads it, and the
    // viewer's rule says what a file no reader takes is. Here only what needs
    // no reader: a file that opens, and a volume file by its size alone.
    struct stat pathInfo {};
    if (::stat(path.c_str(), &pathInfo) == 0 && S_ISDIR(pathInfo.st_mode))
        return {};  // a DICOM series' folder, or the load says why not
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block
    if (fd < 0)
        return "cannot open volume file " + path + ": " + std::strerror(errno);
    struct stat info {};
    uint8_t header[kVolumeHeaderBytes];
    // No scan is shorter than a volume file's header.
    const bool readable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                          ::read(fd, header, sizeof(header)) == static_cast<ssize_t>(sizeof(header));
    ::close(fd);
    if (!readable)
        return "not a volume file (" + path + "): not a regular file or shorter than its 6-byte header";
    const VolumeHeader volumeHeader = ReadVolumeHeader(header);
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (!IsExactVolumeFile(volumeHeader, size))
        return {};
    const std::string problem = CheckVolumeFile(volumeHeader, size);
    if (!problem.empty())
        return "not a usable volume file (" + path + "): " + problem;
    return {};
}

namespace {

// A picture that will be written: never over a folder, a device, a
// read-only file or an input (any file the volume is read from: its header's
// data files, its series).
std::string CheckPicture(const Options& options, const ScanInputFiles& volumeFiles, const std::string& name) {
    const std::filesystem::path path = Absolute(name);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    if (S_ISDIR(info.st_mode))
        return "cannot write " + name + ": it is a folder";
    const std::string why = CheckReplaceable(path.string());
    if (!why.empty())
        return "cannot write " + name + ": " + why;
    if (!options.tfPath.empty() && IsSameFile(path.string(), options.tfPath))
        return "cannot write " + name + ": it is an input (" + options.tfPath + ")";
    for (const std::string& more : options.moreTfPaths)
        if (IsSameFile(path.string(), more))
            return "cannot write " + name + ": it is an input (" + more + ")";
    const std::string role = volumeFiles.RoleOf(path.string());
    if (role == ScanInputFiles::kItself)
        return "cannot write " + name + ": it is an input (" + options.volumePath + ")";
    if (!role.empty())
        return "cannot write " + name + ": it is an input, " + role + " (" + options.volumePath + ")";
    return {};
}

double TimeSwitchMilliseconds = 0;

}  // namespace

std::string CheckInputs(const Options& options) {
    const std::string problem = CheckVolumeInput(options.volumePath);
    if (!problem.empty())
        return problem;

    if (!options.tfPath.empty()) {
        std::vector<ControlPoint> points;
        std::string message;
        if (!ReadTransferFunctionFile(options.tfPath.c_str(), &points, &message))
            return message;
    }
    for (const std::string& more : options.moreTfPaths) {
        std::vector<ControlPoint> points;
        std::string message;
        if (!ReadTransferFunctionFile(more.c_str(), &points, &message))
            return message;
    }

    const std::filesystem::path output = Absolute(options.outputPath);
    const std::string folder = output.parent_path().string();
    struct stat folderInfo {};
    if (::stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
        return "cannot write " + options.outputPath + ": the folder " + folder + " does not exist";
    if (::access(folder.c_str(), W_OK) != 0)
        return "cannot write " + options.outputPath + ": " + std::strerror(errno);
    // Each picture that will be written: never over a folder, a device, a
    // read-only file or an input (any file the volume is read from: its
    // header's data files, its series); found out before anything is read.
    const ScanInputFiles volumeFiles(options.volumePath);
    auto checkPicture = [&](const std::string& name) { return CheckPicture(options, volumeFiles, name); };
    // A series' pictures are checked once its count is known.
    if (options.turntable == 0 && !options.timeSeries) {
        const std::string problem = checkPicture(options.outputPath);
        if (!problem.empty())
            return problem;
    }
    // The picture is PNG whatever the name says; another extension would
    // only mislabel it.
    std::string extension = output.extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".png")
        return "cannot write " + options.outputPath + ": the picture is a PNG; name it .png";

    for (int i = 0; i < options.turntable; ++i) {
        const std::string problem = checkPicture(TurntablePictureName(options.outputPath, i));
        if (!problem.empty())
            return problem;
    }
    return {};
}

std::string TurntablePictureName(const std::string& output, int index) {
    return TurntableFrameName(output, index);
}

std::string StaleTurntableNote(const std::string& output, int count) {
    // A movie's reader takes every picture numbered on from the first, so
    // those an earlier, longer turn left behind would join this one. They
    // are not removed: a file of that name may be anything.
    int stale = 0;
    std::error_code ec;
    while (count + stale < kMaxTurntable &&
           std::filesystem::exists(TurntablePictureName(output, count + stale), ec))
        ++stale;
    if (stale == 0)
        return {};
    const std::string first = TurntablePictureName(output, count);
    const std::string range = stale == 1
                                  ? first + " is"
                                  : first + " to " + TurntablePictureName(output, count + stale - 1) + " are";
    return range +
           " left from an earlier turn; a movie of the numbered pictures would take them too (remove " +
           (stale == 1 ? "it" : "them") + ", or give ffmpeg -frames:v " + std::to_string(count) + ")";
}

float TurntableYaw(float startYaw, int index, int count) {
    return TurntableFrameYaw(startYaw, index, count);
}

std::string TimeSeriesPictureName(const std::string& output, int index) {
    return TurntablePictureName(output, index);
}

bool ShowTimePoint(uint32_t t) {
    return Volume.ShowTimePoint(t);
}

double LastTimeSwitchMilliseconds() {
    return TimeSwitchMilliseconds;
}

std::string ApplyTimeOptions(const Options& options) {
    const uint32_t count = Volume.timePoints;
    if (options.timePoint >= 0) {
        if (static_cast<uint32_t>(options.timePoint) >= count)
            return "--time " + std::to_string(options.timePoint) + ": the volume has " +
                   std::to_string(count) +
                   (count == 1 ? " time point (0)" : " time points (0 to " + std::to_string(count - 1) + ")");
        if (!Volume.ShowTimePoint(static_cast<uint32_t>(options.timePoint)))
            return "--time " + std::to_string(options.timePoint) +
                   ": not enough memory to show the time point";
    }
    if (options.frames > 0 && options.timing == Options::Timing::Play && count < 2)
        return "--timing play: the volume has 1 time point; there is no series to play";
    if (options.timeSeries) {
        const ScanInputFiles volumeFiles(options.volumePath);
        for (uint32_t t = 0; t < count; ++t) {
            const std::string problem = CheckPicture(
                options, volumeFiles, TimeSeriesPictureName(options.outputPath, static_cast<int>(t)));
            if (!problem.empty())
                return problem;
        }
    }
    return {};
}

void TurnTo(float yaw) {
    OrbitCamera.yaw = yaw;
    UpdateCamera();
}

std::string StartSession(const Options& options) {
    // The viewer's messages are boxes; here they are the one line we print.
    SessionBoxes.clear();
    shell::SetMessageBoxHandler([](const char* text, const char* caption, shell::UINT type) {
        SessionBoxes.push_back({text, caption, type});
    });
    // Notices (a volume reduced for the device) are printed and the render
    // goes on; any other box is the failure.
    auto firstMessage = [](const std::string& fallback) {
        std::string failure;
        for (const SessionBox& box : std::exchange(SessionBoxes, {})) {
            if (box.type & shell::MB_ICONINFORMATION)
                std::fprintf(stderr, "tamlo-render: note: %s\n", box.text.c_str());
            else if (failure.empty())
                failure = box.caption + ": " + box.text;
        }
        return failure.empty() ? fallback : failure;
    };

    std::vector<ControlPoint> points;
    if (!options.tfPath.empty()) {
        std::string message;
        if (!ReadTransferFunctionFile(options.tfPath.c_str(), &points, &message))
            return message;
    }
    std::vector<std::vector<ControlPoint>> morePoints;
    for (const std::string& more : options.moreTfPaths) {
        std::string message;
        morePoints.emplace_back();
        if (!ReadTransferFunctionFile(more.c_str(), &morePoints.back(), &message))
            return message;
    }

    // The client area the window would report; InitDevice sizes the swap
    // chain, projections and panel to it. No window: the device is headless.
    MainWindow = nullptr;
    SetClientSize(options.width, options.height);
    if (options.volumePass != VolumePassChoice::Automatic)
        Renderer.volumePassChoice = options.volumePass;
    if (!InitDevice()) {
        const std::string message = firstMessage("the device could not be created");
        ReleaseDeviceAndScene();
        return message;
    }
    OrbitCamera.pitch = options.pitch;
    OrbitCamera.yaw = options.yaw;
    OrbitCamera.distance = options.distance;
    OrbitCamera.panX = options.panX;
    OrbitCamera.panY = options.panY;
    SetBoundaries(options.boundaries);
    SetBackground(options.background);
    SetVolumeShading(options.shading);
    SetVolumeMode(options.mode == Options::Mode::Maximum   ? VolumeMode::Maximum
                  : options.mode == Options::Mode::Minimum ? VolumeMode::Minimum
                                                           : VolumeMode::Composite);
    SetVolumeCrop(options.crop);
    // The volume's read and install say what failed; the boxes above are
    // the device's own.
    VolumeData read;
    VolumeProblem problem;
    ReadingWatch watch;
    watch.stopRequested = [](void*) { return shell::CloseRequested(); };
    watch.abandoned = watch.stopRequested;
    // A store's crop is read alone, at the finest level that fits it.
    ValueChoice values = options.values;
    for (int axis = 0; axis < 3; ++axis) {
        values.partLow[axis] = options.crop.low[axis];
        values.partHigh[axis] = options.crop.high[axis];
    }
    if (options.crop.Empty())
        values = options.values;
    const bool wasRead = ReadVolume(options.volumePath, values, &read, &problem, watch);
    TakeScanWarnings();
    std::vector<VolumeNotice> notices;
    const std::vector<VolumeNotice> readNotices = std::move(read.notices);
    // A store's levels, and which was read, before the frames' lines.
    if (wasRead && !read.storeLevels.empty())
        std::printf("%s (%s):\n%s", options.volumePath.c_str(), read.format.c_str(),
                    read.storeLevels.c_str());
    if (!wasRead || !Volume.Install(std::move(read), options.volumePath, &problem, &notices)) {
        ReleaseDeviceAndScene();
        SessionBoxes.clear();
        return problem.quiet ? "reading was stopped" : problem.caption + ": " + problem.text;
    }
    // What the device made of it first, then what the read found, as the viewer shows them.
    for (const VolumeNotice& notice : notices)
        std::fprintf(stderr, "tamlo-render: note: %s\n", notice.text.c_str());
    for (const VolumeNotice& notice : readNotices)
        std::fprintf(stderr, "tamlo-render: note: %s\n", notice.text.c_str());
    const uint32_t grid[3] = {static_cast<uint32_t>(Volume.dimX), static_cast<uint32_t>(Volume.dimY),
                              static_cast<uint32_t>(Volume.dimZ)};
    const std::string outside = PlanesOutsideGrid(options.slices, grid);
    if (!outside.empty()) {
        ReleaseDeviceAndScene();
        return outside;
    }
    if (!ShowLoadedVolume()) {
        const std::string message = firstMessage("the volume could not be shown");
        ReleaseDeviceAndScene();
        return message;
    }
    SetSlicePlanes(options.slices, grid);
    if (!points.empty())
        InstallTransferFunction(points);
    for (size_t k = 0; k < morePoints.size(); ++k) {
        const uint32_t channel = static_cast<uint32_t>(k + 1);
        if (channel < EditorTab.channelCount)
            EditorTab.SetChannelPoints(channel, morePoints[k]);
        else
            std::fprintf(stderr, "tamlo-render: note: --tf %s is for channel %u, which %s does not show\n",
                         options.moreTfPaths[k].c_str(), channel + 1, options.volumePath.c_str());
    }
    if (options.panelOpen) {
        // Where the slide ends after the handle is clicked.
        EditorTab.state = UI::kTabOpen;
        EditorTab.slideOffset = UI::OpenSlideDistance(ClientArea.heightF);
    }
    std::string message = firstMessage("");
    if (message.empty())
        message = ApplyTimeOptions(options);
    if (!message.empty()) {
        ReleaseDeviceAndScene();
        return message;
    }
    return {};
}

void RenderFrame() {
    const bool drawsLayer = Renderer.volumeLayerStale || RotationDrag.active;
    const auto start = std::chrono::steady_clock::now();
    InputHandlerTable.Frame();
    // Present only flushes a headless target; a frame's time is its finish,
    // and that is what a drag's next frame is cut to fit.
    glFinish();
    if (drawsLayer && Renderer.timeLayers)
        Renderer.layerSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void PrepareTimedFrame(Options::Timing timing) {
    switch (timing) {
        case Options::Timing::Full:
            InvalidateVolumeLayer();
            break;
        case Options::Timing::Unchanged:
            break;
        case Options::Timing::PointDrag: {
            // The hand moves an inner point of the open panel a little each
            // frame, in position and opacity, back and forth.
            if (!(EditorTab.state & UI::kTabOpen)) {
                EditorTab.state = UI::kTabOpen;
                EditorTab.slideOffset = UI::OpenSlideDistance(ClientArea.heightF);
            }
            if (EditorTab.pointCount < 3)
                EditorTab.InsertPoint(1, 0.5f, 0.3f);
            static int move = 0;
            const uint32_t inner = EditorTab.pointCount / 2;
            EditorTab.selectedPoint = inner;
            EditorTab.dragMode = UI::kDragInnerPoint;
            const float wave = static_cast<float>(move++ % 10) / 10.0f;
            const float lowPosition = EditorTab.points[inner - 1].position,
                        highPosition = EditorTab.points[inner + 1].position;
            const UI::GraphPixels graph = EditorTab.Graph();
            for (int note = 0; note < 3; ++note)
                NoteContinuousInput();
            EditorTab.DragPointTo(
                graph.XOfPosition(lowPosition + (0.25f + 0.5f * wave) * (highPosition - lowPosition)),
                graph.YOfOpacity(0.2f + 0.5f * wave));
            break;
        }
        case Options::Timing::Drag:
            // The right button held a little right of where it was pressed: the
            // view turns slowly and each frame draws the layer again, with the
            // work a slow device's drag leaves out.
            RotationDrag.active = true;
            RotationDrag.anchorX = ClientArea.width / 2;
            RotationDrag.anchorY = ClientArea.height / 2;
            RotationDrag.cursorX = RotationDrag.anchorX + 5;
            RotationDrag.cursorY = RotationDrag.anchorY;
            OrbitCamera.yaw += 0.01f;
            UpdateCamera();
            break;
        case Options::Timing::Play: {
            // The viewer's play: coarse frames as during a drag on a slow
            // device, each the next point, round the end.
            TimePlay().playing = true;
            const auto start = std::chrono::steady_clock::now();
            Volume.ShowTimePoint(SteppedTimePoint(Volume.shownTimePoint, Volume.timePoints, 1, true));
            glFinish();
            TimeSwitchMilliseconds =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            break;
        }
        case Options::Timing::Wheel: {
            // The viewer's own wheel handler, alternately in from the start
            // distance and out again, so that every notch changes the picture
            // and the distance does not drift. Each notch comes after a pause:
            // an event of its own, not part of a stream of notches.
            static float startDistance = 0;
            static int notch = 0;
            if (notch == 0)
                startDistance = OrbitCamera.distance;
            const bool in = notch++ % 2 == 0;
            OrbitCamera.distance = in ? startDistance : startDistance * 0.75f;
            // Shown as the window shows it, not as a picture of its own.
            CoarseFramesFirst = true;
            EndContinuousInput();
            InputHandlerTable.Wheel(static_cast<int16_t>(in ? 120 : -120));
            break;
        }
        case Options::Timing::PlaneWheel: {
            // Ctrl and the wheel where the current plane shows, first one way
            // then back, each notch after a pause. The place is found once,
            // on a coarse grid of pixels.
            static int32_t atX = -1, atY = -1;
            static int notch = 0;
            for (int32_t y = 8; atX < 0 && y < ClientArea.height; y += 16)
                for (int32_t x = 8; atX < 0 && x < ClientArea.width; x += 16) {
                    const std::optional<PlaneHit> hit = SlicePlaneAt(x, y);
                    if (hit && hit->axis == Renderer.planes.current)
                        atX = x, atY = y;
                }
            if (atX < 0 && notch == 0)
                std::printf("no plane in the picture: the notches zoom\n");
            const bool forward = notch++ % 2 == 0;
            CoarseFramesFirst = true;
            EndContinuousInput();
            WheelAt(static_cast<int16_t>(forward ? 120 : -120), shell::MK_CONTROL, atX, atY);
            break;
        }
    }
}

void RefineToWhole() {
    while (RefinementPending()) {
        if (RefineVolumeLayer(Volume.volumeView, EditorTab.transferView)) {
            RenderFrame();
            break;
        }
    }
}

double FinishPointDrag() {
    const auto lastMove = std::chrono::steady_clock::now();
    // The button let go: the change's end is known.
    EditorTab.dragMode = UI::kDragNone;
    EndContinuousInput();
    // The window waits for input while the change may go on, then refines a
    // band at a time, and the frame after the last band shows it.
    for (;;) {
        if (ChangingContinuously()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        // Nothing coarse to refine on a fast device.
        if (!RefinementPending() || RefineVolumeLayer(Volume.volumeView, EditorTab.transferView))
            break;
    }
    InputHandlerTable.Frame();
    glFinish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lastMove).count();
}

Picture ReadPicture() {
    Picture picture;
    if (Renderer.swapChain)
        gpu::ReadSwapChainPixels(Renderer.swapChain, &picture.rgba, &picture.width, &picture.height);
    return picture;
}

void EndSession() {
    ReleaseDeviceAndScene();
    shell::SetMessageBoxHandler({});
    const ControlPoint defaults[2] = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
    EditorTab.ForgetChannels();
    EditorTab.ReplacePoints(defaults, 2);
    EditorTab.selectedHsl = HslColor{0, 0, 0};
    EditorTab.state = UI::kTabClosed;
    EditorTab.slideTime = 0;
    EditorTab.slideOffset = 0;
    EditorTab.dragMode = UI::kDragNone;
    EditorTab.history.Clear();
    ResetApplicationState();
}

Picture TransparentPicture(const Picture& overBlack, const Picture& overWhite) {
    Picture out = overBlack;
    if (overWhite.width != overBlack.width || overWhite.height != overBlack.height ||
        overWhite.rgba.size() != overBlack.rgba.size())
        return out;
    for (size_t i = 0; i + 3 < out.rgba.size(); i += 4) {
        // Over black a pixel is what covers it (c a); over white that plus
        // the white let through (1 - a).
        int through = 0;
        for (int c = 0; c < 3; ++c)
            through += std::max(0, static_cast<int>(overWhite.rgba[i + c]) - overBlack.rgba[i + c]);
        const int alpha = std::clamp(255 - (through + 1) / 3, 0, 255);
        for (int c = 0; c < 3; ++c)
            out.rgba[i + c] =
                alpha == 0
                    ? 0
                    : static_cast<uint8_t>(std::min(255, (overBlack.rgba[i + c] * 255 + alpha / 2) / alpha));
        out.rgba[i + 3] = static_cast<uint8_t>(alpha);
    }
    return out;
}

Picture ReadOutputPicture(const Options& options) {
    if (!options.transparent)
        return ReadPicture();
    SetBackground(Background::Black);
    RenderFrame();
    const Picture overBlack = ReadPicture();
    SetBackground(Background::White);
    RenderFrame();
    const Picture overWhite = ReadPicture();
    SetBackground(options.background);
    return TransparentPicture(overBlack, overWhite);
}

std::string WritePng(const std::string& path, const Picture& picture, bool withAlpha) {
    if (picture.width == 0 || picture.height == 0 ||
        picture.rgba.size() != size_t{picture.width} * picture.height * 4)
        return "no picture to write";
    // File > Save Picture's encoding and write: every write checked, the file
    // under its name only when complete.
    std::string why;
    if (!WritePicturePng(path, picture, &why, withAlpha))
        return "cannot write " + path + ": " + why;
    return {};
}

FrameStats Summarise(std::vector<double> ms) {
    FrameStats stats;
    if (ms.empty())
        return stats;
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    stats.median = n % 2 ? ms[n / 2] : 0.5 * (ms[n / 2 - 1] + ms[n / 2]);
    stats.min = ms.front();
    stats.max = ms.back();
    return stats;
}

double ProcessCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1.0e6;
}

}  // namespace batch
