#pragma once

#include "engine/ports.h"
#include "ui/controls.h"

#include <windows.h>

namespace uninst {

// The window's progress bar, 0 to max() in whole steps on screen. The value
// the engine sets is kept at full precision; the bar moves only when the
// whole step changes.
class ProgressBar final : public Progress, public Control {
public:
    // Creates the bar as the child `id` of `parent`, empty. Throws Error
    // when the system refuses it.
    void create(HWND parent, int id);

    float value() const override { return value_; }
    float max() const override { return max_; }
    void setValue(float value) override;

private:
    float value_ = 0.0f;
    float max_ = 100.0f;
};

} // namespace uninst
