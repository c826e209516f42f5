#pragma once

#include <string>

// The user's choices that outlive the program, kept as lines of "default.cfg" in the working
// folder. Start-up fills them from that file; the windows and the studio read them and store a
// choice the user changes. GUI thread only.

// The folder into which recordings are written, ending with "/" (the file name is put directly
// behind it); "video.folder".
extern std::string videoFolder;
// Whether screen recordings show the mouse pointer; "video.cursor", on unless set to 0.
extern bool recordPointer;
// Whether screen recordings show a ring where a mouse button was pressed; "video.clicks", off
// unless set to 1.
extern bool showClicks;
// The monitor a full-screen recording covers, by its RandR name; empty for the whole desktop;
// "video.monitor".
extern std::string monitorName;
// The file format of new recordings, as their file names end: "avi" (MPEG-4 and MP3, the
// default) or "mp4" (H.264 and AAC); "video.format".
extern std::string videoFormat;
// The camera picture size as "WxH"; empty for the largest the camera gives at 25 pictures a
// second or more; "camera.size".
extern std::string cameraSize;

// What a Wayland desktop gave to share the same monitor again without asking the user;
// "portal.token".
extern std::string portalToken;

// Writes key=value into "default.cfg" (replacing its line, or adding one), creating the file
// (0600) when it is missing. False, with a log line saying why, when it cannot be read or
// written; the choice then lasts until the program ends.
bool storePreference(const std::string& key, const std::string& value);

// folder with a final "/" (an empty one stays empty: no folder is configured).
std::string normalizedFolder(const std::string& folder);
