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

class QtMessageSink : public app::MessageSink {
 public:
  int Show(const std::string& text, const std::string& title, int style) override;
};

}  // namespace ui
