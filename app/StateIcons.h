// The 17 state icons of the tree (12 by 12 pixels): letters on coloured squares that tell a
// negotiation's kind and whether it completed, drawn in code so they are crisp at any scale.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "model/TreeRules.h"

namespace quillon {

// The picture of state icon `index` (1..17, see model/TreeRules.h); a null pixmap for 0 or an
// index out of range. `scale` draws it for a display with that device-pixel ratio, `dark` for
// a dark background.
QPixmap StateIconPixmap(int index, qreal scale = 1, bool dark = false);

// All icons by index (entry 0 is null), for models and views that look them up per row.
// Each is drawn when shown, for the screen's pixel ratio and the palette of the moment.
class StateIconSet {
 public:
  StateIconSet();
  const QIcon& At(int index) const;

 private:
  QIcon icons_[kStateIconCount];
  QIcon none_;
};

}  // namespace quillon
