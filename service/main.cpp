// Docwarden: the watchdog service of Docklane.
#include "platform/service_control.hpp"
#include "service/service_main.hpp"

int main() { return platform::RunServiceDispatcher(kServiceName, ServiceMain); }
