// Docklane's application object: the start-up sequence, after which the
// main thread only waits while the pipe and HTTP threads do the work.
#pragma once

class CDeskrelayApp {
 public:
  // Start-up in its fixed order; never returns. The process ends by exit
  // code 0 (second instance, or "quit" on the pipe), by a set-up failure
  // (code 1), or from outside.
  [[noreturn]] void InitInstance();
};

extern CDeskrelayApp theApp;
