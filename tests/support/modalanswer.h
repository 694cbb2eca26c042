#pragma once

#include <QWidget>

#include <functional>

// Answers the next modal dialog: `atOpen` sees it as it appears, then the push
// button named `button` is clicked. With a delay or `beforeAnswer`, the click
// waits `delayMs` and `beforeAnswer` runs first, so a test can look at the
// window while the question is still open.
void answerNextModal(const char *button, std::function<void(QWidget *)> atOpen = {},
                     int delayMs = 0, std::function<void()> beforeAnswer = {});
