#pragma once

#include <functional>

class QPrinter;
class QWidget;

// The print dialogs of the application; tests queue the answer of the next one. An answer may set up
// the printer (a PDF file, say) and returns whether the dialog was accepted.
namespace PrintDialog {
bool exec(QPrinter &printer, QWidget *parent);

void setNextAnswer(const std::function<bool(QPrinter &)> &answer);
} // namespace PrintDialog
