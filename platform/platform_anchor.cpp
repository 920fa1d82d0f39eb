// Keeps the platform library non-empty while its backends are filled in.
namespace Platform { int platform_anchor = 0; }
