// Message boxes on screen: the classic styles (buttons, icon, default button)
// mapped onto QMessageBox.
#pragma once

#include <QString>
#include <string>

#include "app/message_sink.h"

namespace ui {

// The program builds its texts with Windows line breaks, and a lone carriage
// return also starts a new line there. Qt wants "\n".
QString DisplayText(const std::string& text);

// `text` with every web address made unbreakable: an invisible word joiner
// after each of its punctuation marks, where line breaking would otherwise
// split it ("http://host/" on one line, "contact/" on the next).
QString KeepAddressesWhole(const QString& text);

// Message boxes carry the program's icon, whatever window is active.
class QtMessageSink : public app::MessageSink {
 public:
  int Show(const std::string& text, const std::string& title, int style) override;
};

}  // namespace ui
