// The batch renderer: one volume drawn headless through the viewer's own
// device, frame, camera, slices, editor panel and atlas, read back as a
// picture. Options and file checks are plain; the session runs the device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/picture_file.h"
#include "render/data_folders.h"
#include "render/slice_planes.h"
#include "render/software_volume_pass.h"
#include "render/volume_mode.h"
#include "slicing/orbit_view.h"
#include "slicing/slice_cut.h"
#include "volume/scan_import.h"

namespace batch {

struct Options {
    std::string volumePath;
    std::string tfPath;  // empty: the editor's default function
    // Further --tf files: the second for the volume's second channel, and
    // so on (the channels without one keep their ramps).
    std::vector<std::string> moreTfPaths;
    std::string outputPath = "tamlo-render.png";
    std::string dataDir;  // empty: the viewer's data folders
    int width = 1280, height = 1024;
    float pitch, yaw, distance;  // the viewer's start values unless given
    bool panelOpen = false;
    int frames = 0;     // 0: one picture, no timing
    int turntable = 0;  // pictures in a full turn; 0: just the one picture
    // What each timed frame costs: a full redraw of the slices, a frame that
    // reuses the volume layer, or a rotation drag's frame (the view turned).
    // A point drag: an inner control point of the open panel moved on each
    // frame, as the hand drags it; then the refinement after the last move.
    // A wheel notch: one notch after a pause, each an event of its own, timed
    // to the first frame that shows it and to the whole picture.
    // Play: a series played, each frame the next time point (round the end)
    // drawn as the viewer draws a playing series.
    // A plane's wheel notch: Ctrl and the wheel over the current plane, which
    // moves a voxel and back, timed as a wheel notch is.
    enum class Timing { Full, Unchanged, Drag, PointDrag, Wheel, PlaneWheel, Play } timing = Timing::Full;
    int timePoint = -1;       // --time: the point drawn (from 0); -1: the first
    bool timeSeries = false;  // --time-series: a picture per time point
    ValueChoice values;       // a scan's value window (--values)
    bool shading = true;      // View > Shading
    // --volume-pass: the slices or the CPU draw the volume layer (by
    // default the process's choice: the CPU on a software rasteriser, as in
    // the viewer).
    VolumePassChoice volumePass = VolumePassChoice::Automatic;
    // View > Composite, Maximum Intensity, Minimum Intensity.
    enum class Mode { Composite, Maximum, Minimum } mode = Mode::Composite;
    bool help = false;
    // --view: one of the standard views' pitch and yaw; --crop: the part of
    // the box drawn (the whole box unless given).
    bool viewGiven = false;
    bool anglesGiven = false;
    CropBox crop;
    // --pan X,Y: the viewer's pan (the box centre moved in the screen's
    // plane, box lengths at its depth, x right, y up); --boundaries: View >
    // Boundaries; --background: View > Background; --transparent: the
    // background left out of the picture (alpha 0 where nothing covers it).
    float panX = 0.0f, panY = 0.0f;
    bool boundaries = false;
    Background background = Background::DarkBlue;
    bool transparent = false;
    // --slices x=N,y=N,z=N: the Slices menu's planes on those voxel layers.
    SlicePlanes slices;
    Options();
};

// Empty when the command line is sound, else what is wrong in one line.
std::string ParseOptions(int argc, const char* const* argv, Options* options);
const char* UsageText();
// The path made absolute against the working folder (unchanged if it cannot be).
std::string Absolute(const std::string& path);

// The folders fx.fx and tam_ui.dds are looked for in: the one asked for, or
// the viewer's order (working folder, installed share/tamlo, build tree).
DataFolderList DataFoldersFor(const std::string& requested);

// Checks that can be made before a device exists and without a reader, so
// that a bad input costs no start-up and says one thing: a volume file's
// header and size (a file a reader may take is the load's to judge, as in
// the viewer), the .tf file, the output's folder, and that no picture
// replaces a file the volume is read from. Empty when all is well.
std::string CheckInputs(const Options& options);

// The window's picture type (app/picture_file.h): RGBA, top row first.
using Picture = ScreenPicture;

// Brings up the headless device in the viewer's data folder and puts the
// viewer into the state the options describe (as File > Open, Transfer
// Function > Open and the panel handle would). Empty on success, else the
// first message the program raised. Paths must be absolute or relative to the
// folder the data lies in.
std::string StartSession(const Options& options);
// Turntables: picture `index` (from 0) of a turn is OUTPUT-0001.png onwards
// (OUTPUT's .png left off), at yaw start + index / count of a full turn.
std::string TurntablePictureName(const std::string& output, int index);
float TurntableYaw(float startYaw, int index, int count);
// After a turn of `count` pictures: empty, or a note naming the pictures an
// earlier, longer turn left under the following numbers.
std::string StaleTurntableNote(const std::string& output, int count);
// Turns the camera to a yaw; the next frame shows it.
void TurnTo(float yaw);

// After the volume is installed: the time point --time asks for shown, or
// why it cannot be ("--time 7: the volume has 5 time points (0 to 4)"); for
// --time-series, whether each picture may be written; for --timing play,
// that there is a series to play. Empty when all is well (StartSession
// runs it).
std::string ApplyTimeOptions(const Options& options);
// A time series' picture `index` (from 0): named as a turntable's.
std::string TimeSeriesPictureName(const std::string& output, int index);
// Shows time point t (the next frame draws it); false when it cannot be.
bool ShowTimePoint(uint32_t t);
// How long the last --timing play frame's switch to its point took (the
// uploads and the gradient, finished on the device).
double LastTimeSwitchMilliseconds();

// One volume frame, exactly the viewer's, waited for.
void RenderFrame();
// Sets up the next timed frame for the kind of frame being timed.
void PrepareTimedFrame(Options::Timing timing);
// After a point drag's frames: lets go of the point and draws until the
// whole-quality picture is complete and shown; the milliseconds from the
// last move to then.
double FinishPointDrag();
// After a single change: draws, as the viewer's window does between inputs,
// until the whole picture is complete and shown (nothing when it is already).
void RefineToWhole();
Picture ReadPicture();
// The picture to write: the frame read back, or with --transparent the
// frame drawn over black and over white, whose difference is what shows of
// the background: its alpha, and the colour over it taken out.
Picture ReadOutputPicture(const Options& options);
Picture TransparentPicture(const Picture& overBlack, const Picture& overWhite);
// Back to the state of a fresh process (device, volume and editor released).
void EndSession();

// Writes the picture opaque, as the window shows it (the target's alpha is
// the volume's coverage), or with its alpha (a --transparent picture).
// Empty on success.
std::string WritePng(const std::string& path, const Picture& picture, bool withAlpha = false);

// Median, smallest and largest of a set of frame times.
struct FrameStats {
    double median = 0, min = 0, max = 0;
};
FrameStats Summarise(std::vector<double> milliseconds);

// CPU time of the whole process (every rasteriser thread) in milliseconds. A
// frame's share of it, taken inside the process, leaves out the start-up
// (its file read, page faults and shader compiles scatter by half a second
// from run to run) and counts other work on the machine less than wall time.
double ProcessCpuMilliseconds();

}  // namespace batch
