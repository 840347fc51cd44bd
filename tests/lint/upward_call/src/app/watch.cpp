// The app-layer function the link calls.
void showLinkLost(const char*) {}
