#pragma once

#include "news/NewsCategory.h"

#include <QIcon>

namespace vardelle {

// The category's symbol: a shield for cybersecurity, a globe for threat intelligence, a bug for
// malware. Taken from the icon theme when it has the freedesktop icon of that meaning, else drawn
// here in the palette's text colour.
QIcon categoryIcon(NewsCategory category);

// The drawn symbol alone, whatever the theme holds.
QIcon drawnCategoryIcon(NewsCategory category);

} // namespace vardelle
