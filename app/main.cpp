// Docklane: serves the editor page on port 3465 once its control pipe has a
// client.
#include "app/deskrelay_app.hpp"

int main() { theApp.InitInstance(); }
