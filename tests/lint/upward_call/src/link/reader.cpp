// A link-layer file that calls up into app/ (must be reported) and through the window seam
// (allowed).
void showLinkLost(const char* port);
void setControlText(int dialog, int id, const char* text);
void readerFailed() {
  showLinkLost("port");
  setControlText(0, 1, "lost");
}
