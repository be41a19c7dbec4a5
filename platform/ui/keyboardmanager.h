#pragma once
// The shared keyboard manager. While enabled it keeps the focused text field
// visible inside an enclosing scroll area and moves the focus to the next
// text field of the window on Enter.

#include <QObject>
#include <QPointer>

class QWidget;

namespace orvix::platform::ui {

class KeyboardManager : public QObject {
    Q_OBJECT
public:
    static KeyboardManager &shared();

    bool enable() const { return m_enabled; }
    void setEnable(bool enabled);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KeyboardManager(QObject *parent);
    void focusChanged(QWidget *old, QWidget *now);
    bool m_enabled = false;
};

} // namespace orvix::platform::ui
