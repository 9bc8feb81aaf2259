#pragma once

// The side effects of the shutdown that reach the operating system.
// ShutdownRunner is the real one; tests record the calls.
class ShutdownActions {
 public:
  ShutdownActions() = default;
  ShutdownActions(const ShutdownActions&) = delete;
  ShutdownActions& operator=(const ShutdownActions&) = delete;
  virtual ~ShutdownActions() = default;

  // Starts the save hooks; their end is reported through
  // ShutdownSequence::OnSaveHooksDone().
  virtual void StartSaveHooks() = 0;
  // Starts the system's shutdown command.
  virtual void RunShutdownCommand() = 0;
};
