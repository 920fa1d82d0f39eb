// How Docklane ends itself.
#pragma once

// Flushes standard output and error and exits with `code`.
[[noreturn]] void EndProcess(int code);

// The pipe's "quit": stops the HTTP server and exits with code 0. When the
// server thread is held up in a request, the exit does not wait for it and
// skips the static destructors, which that thread may still be using.
[[noreturn]] void QuitProcess();
