// Where the program finds its data files (the shader source fx.fx and the
// interface atlas tam_ui.dds): the working folder first, as it always was;
// then the installed share/tamlo beside the executable's bin/; then the data
// folder of the build tree the executable was built in.
#pragma once

#include <string>
#include <vector>

// The empty string stands for the working folder: a file found there is
// named as before (plain "fx.fx"), so the compiler's messages read the same.
using DataFolderList = std::vector<std::string>;

// The folders in order of preference for an executable in `executableFolder`
// whose build-tree data folder is `buildTreeData` relative to it ("../data"
// for build/app/tamlo). An empty executableFolder gives the working folder only.
DataFolderList MakeDataFolders(const std::string& executableFolder, const std::string& buildTreeData);

// The folder of the running executable; empty when the system cannot say.
std::string ExecutableFolder();

// The path of `name` in the first folder holding it as a regular file;
// empty when none does.
std::string FindDataFile(const std::string& name, const DataFolderList& folders);

// Why FindDataFile found nothing: what the first thing of that name is
// (a folder, a pipe, a device, an unreadable file, a broken link), or
// "no such file in" the folders.
std::string WhyNoDataFile(const std::string& name, const DataFolderList& folders);

// "/home/me (the working folder), /usr/share/tamlo, /src/build/data": for
// the message that says where a file was looked for.
std::string DescribeDataFolders(const DataFolderList& folders);

// The list the device set-up searches. Until a program sets its own it is
// the viewer's: MakeDataFolders(ExecutableFolder(), "../data").
const DataFolderList& ProgramDataFolders();
void SetProgramDataFolders(DataFolderList folders);

// The installed transfer-function presets: the ".tf" files of each folder's
// presets/, in the folders' order, each name once (the first folder's),
// sorted by name within a folder.
std::vector<std::string> FindPresets(const DataFolderList& folders);
// At most `most` of the presets found, in their order. A long list in the
// first folder (the working folder's) gives way to the later folders'
// (the installed ones), which keep up to half of the places.
std::vector<std::string> LimitPresets(std::vector<std::string> found, size_t most);
