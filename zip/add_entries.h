// The helpers behind AddFile and AddFromFolder that need no archive object: the folder search
// and the conversion of a file time into an entry's LastModified.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/find.h"
#include "platform/time.h"

namespace lum::zip {

// Full paths of the entries of `folder` whose names match `mask` ("*" any run, "?" one
// character, "*.*" every name; an empty mask finds the folder itself) and whose attributes
// pass `attributeFilter`: a positive filter passes records sharing a bit with it, a negative
// one records sharing no bit with its absolute value, 0 passes nothing. "." and ".." are
// never returned. Paths are the folder and the name joined with the platform's separator, in
// the order the search returns them. A search that finds nothing gives an empty list; any
// other failure raises "pvEnumFiles" with the system error text and " (search path)".
std::vector<std::string> pvEnumFiles(const std::string& folder, const std::string& mask,
                                     std::int32_t attributeFilter);

// A path found by a folder search, with the record that describes it.
struct FoundPath {
  std::string path;
  platform::FindData record;
};
// pvEnumFiles with each path's record, so that queuing needs no second lookup.
std::vector<FoundPath> pvEnumFound(const std::string& folder, const std::string& mask,
                                   std::int32_t attributeFilter);

// Why a found path cannot be an entry: "FIFO skipped", "socket skipped", "device skipped",
// "dangling symbolic link skipped"; empty when it can.
std::string pvSkipReason(const platform::FindData& found);

// A UTC file time as a local OLE date, to whole seconds (milliseconds dropped); the zero
// date-time when the time cannot be converted.
double pvFromFileTime(const platform::FileTime& utc);

// The entry name AddFile gives a source of storage name `sName` when no Name is passed: the
// part after the last separator ("\", or the platform's own). A folder path that ends in a
// separator gives the folder's own name followed by "\" (a folder entry), never an empty
// name. "[buffer]" and "[stream]" have no separator and stay as they are.
std::string pvDefaultEntryName(const std::string& sName);

}  // namespace lum::zip
