// The tool bar's and the speed buttons' images: the desktop's icon theme, or drawn ones where the theme
// has none, so that no button is ever empty.
#pragma once

#include <QIcon>
#include <QSize>

namespace brenwick {

inline const QSize kToolBarIconSize(46, 36);

enum class TToolIcon { New, Open, Save, SaveAs, Erase, Prepare, Burn, Stop, About, Exit, Add, Remove };

// The theme's icon for the command, else the drawn one.
QIcon ToolBarIcon(TToolIcon which);
// The drawn image alone (46 x 36; never empty).
QPixmap DrawnToolBarImage(TToolIcon which);

}  // namespace brenwick
