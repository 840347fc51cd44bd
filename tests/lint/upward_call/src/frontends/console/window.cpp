// A front-end's definition of a window-seam function.
void setControlText(int, int, const char*) {}
