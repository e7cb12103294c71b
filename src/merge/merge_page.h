// What the merge run sees of the page it was started from. The run never
// touches a window itself: the Qt merge page, the command line and the tests
// each implement this, and the run drives it.
#pragma once

#include <memory>
#include <string>

#include "app/message_sink.h"

namespace db {
class RowSource;
}

namespace merge {

// Mouse pointer values.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerBusy = 11;
inline constexpr int kPointerCustom = 99;

// Window states.
inline constexpr int kWindowNormal = 0;
inline constexpr int kWindowMinimized = 1;

inline constexpr char kStartCaption[] = "Start Merging";
inline constexpr char kExitCaption[] = "Exit";
inline constexpr char kProgressText[] = "Progress Bar";
inline constexpr char kDefaultResultName[] = "Result_Column";

class MergePage {
 public:
  virtual ~MergePage() = default;

  // What the earlier pages gathered, read when the run needs it.
  // The chosen table, without brackets.
  virtual std::string TableName() const = 0;
  // The chosen fields in merge order, each between grave accents, joined by
  // ", ": "`First`, `Middle`, `Last`".
  virtual std::string MergeFieldList() const = 0;
  // The connection string for the database and password chosen on the first page.
  virtual std::string ConnectionString() const = 0;

  // The page's own inputs: the name box text as typed, and the space option's
  // check value (1 when checked).
  virtual std::string NameText() const = 0;
  virtual int SpaceOption() const = 0;
  // While locked, the page keeps the name box and the space option as they
  // are: a run is under way and has already read them.
  virtual void LockInputs(bool locked) = 0;

  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgressValue(int value) = 0;
  virtual void SetProgressText(const std::string& text) = 0;

  virtual std::string ButtonCaption() const = 0;
  virtual void SetButtonCaption(const std::string& caption) = 0;

  virtual int MousePointer() const = 0;
  virtual void SetMousePointer(int pointer) = 0;

  virtual int WindowState() const = 0;
  virtual void SetWindowState(int state) = 0;

  // The rows the results grid shows; null empties it.
  virtual void SetResults(std::shared_ptr<db::RowSource> rows) = 0;
  // The page refuses to go back once this is true.
  virtual void SetMergeDone(bool done) = 0;

  virtual app::MessageSink& Messages() = 0;
  // Lets pending window events run (repaints, clicks, typing).
  virtual void DoEvents() = 0;
  // Ends the whole program (the button reads "Exit").
  virtual void EndProgram() = 0;
};

}  // namespace merge
