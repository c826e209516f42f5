#pragma once

#include <QString>

// The style sheet "default.skin" from the current directory (the executable's folder); empty
// when the file is missing or empty.
QString loadSkin();
