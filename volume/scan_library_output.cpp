#include "volume/scan_library_output.h"

#include <gdcmTrace.h>
#include <itkMacro.h>
#include <itkObjectFactory.h>
#include <itkOutputWindow.h>
#include <unistd.h>

#include <iostream>
#include <mutex>

namespace {

constexpr size_t kMaxWarnings = 200;
std::vector<std::string> Warnings;
std::ostringstream GdcmStream;

void KeepWarning(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!text.empty() && Warnings.size() < kMaxWarnings)
        Warnings.push_back(std::move(text));
}

void KeepLines(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        KeepWarning(line);
}

class WarningWindow : public itk::OutputWindow {
  public:
    using Self = WarningWindow;
    using Superclass = itk::OutputWindow;
    using Pointer = itk::SmartPointer<Self>;
    itkSimpleNewMacro(Self);
    void DisplayText(const char* text) override { KeepWarning(text ? text : ""); }
};

}  // namespace

void RouteLibraryOutput() {
    static std::once_flag once;
    std::call_once(once, [] {
        itk::OutputWindow::SetInstance(WarningWindow::New());
        gdcm::Trace::SetStream(GdcmStream);
        gdcm::Trace::SetWarningStream(GdcmStream);
        gdcm::Trace::SetErrorStream(GdcmStream);
        gdcm::Trace::SetDebugStream(GdcmStream);
        gdcm::Trace::DebugOff();
    });
}

void CollectGdcmOutput() {
    const std::string text = GdcmStream.str();
    GdcmStream.str({});
    GdcmStream.clear();
    KeepLines(text);
}

std::vector<std::string> TakeLibraryWarnings() {
    CollectGdcmOutput();
    std::vector<std::string> taken;
    taken.swap(Warnings);
    return taken;
}

std::string OneLine(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        line = line.substr(first);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        return line;
    }
    return "the reader gave no reason";
}

std::string Reason(const itk::ExceptionObject& e) {
    const char* description = e.GetDescription();
    const std::string text = description && *description ? description : e.what();
    std::string first = OneLine(text);
    // ITK's preamble names the object and the method: "itk::ERROR:
    // NrrdImageIO(0x55...): ReadImageInformation: Error reading x.nhdr:".
    if (first.rfind("itk::ERROR", 0) == 0 || first.rfind("ITK ERROR", 0) == 0) {
        const size_t object = first.find("): ");
        if (object != std::string::npos)
            first = first.substr(object + 3);
        const size_t method = first.find(": ");
        if (method != std::string::npos && first.find(' ') > method)
            first = first.substr(method + 2);
    }
    // The NRRD library stacks its reasons from the outside in, one line each
    // ("[nrrd] _nrrdSizeCheck: axis 0 size is zero!"): the last is the cause.
    if (!first.empty() && first.back() == ':') {
        std::istringstream lines(text);
        std::string cause;
        for (std::string line; std::getline(lines, line);)
            if (line.find_first_not_of(" \t\r") != std::string::npos)
                cause = OneLine(line);
        const size_t function = cause.rfind("[", 0) == 0 ? cause.find(": ") : std::string::npos;
        if (function != std::string::npos)
            cause = cause.substr(function + 2);
        if (cause != OneLine(text))
            first += " " + cause;
    }
    return first;
}

std::string BytesText(long double bytes) {
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 6) {
        bytes /= 1024;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof(text), unit ? "%.1Lf %s" : "%.0Lf %s", bytes, units[unit]);
    return text;
}

StreamCapture::StreamCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    file_ = std::tmpfile();
    if (file_ != nullptr) {
        savedOut_ = ::dup(1);
        savedErr_ = ::dup(2);
        ::dup2(::fileno(file_), 1);
        ::dup2(::fileno(file_), 2);
    }
    oldCout_ = std::cout.rdbuf(text_.rdbuf());
    oldCerr_ = std::cerr.rdbuf(text_.rdbuf());
}

std::string StreamCapture::Finish() {
    if (finished_)
        return captured_;
    finished_ = true;
    std::cout.rdbuf(oldCout_);
    std::cerr.rdbuf(oldCerr_);
    captured_ = text_.str();
    if (file_ != nullptr) {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(savedOut_, 1);
        ::dup2(savedErr_, 2);
        ::close(savedOut_);
        ::close(savedErr_);
        std::rewind(file_);
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof(buffer), file_)) > 0 && captured_.size() < (1u << 20))
            captured_.append(buffer, got);
        std::fclose(file_);
    }
    KeepLines(captured_);
    return captured_;
}
