#pragma once
// Small helpers on views.

class QWidget;

namespace orvix::platform::ui {

// Takes the keyboard focus away from whatever inside `view` (or the view
// itself) holds it. `force` is accepted for symmetry: nothing can refuse.
// Returns whether something inside the view lost the focus.
bool endEditing(QWidget *view, bool force);

// Keeps `child` covering its parent widget, resized with it, for as long as
// the child lives.
void coverParent(QWidget *child);

} // namespace orvix::platform::ui
