#pragma once
// Small helpers on views.

class QWidget;

namespace orvix::platform::ui {

// Takes the keyboard focus away from whatever inside `view` (or the view
// itself) holds it. `force` is accepted for symmetry: nothing can refuse.
// Returns whether something inside the view lost the focus.
bool endEditing(QWidget *view, bool force);

} // namespace orvix::platform::ui
