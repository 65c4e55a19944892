// Five of the encoder library's six entry points, as bare symbols: only the names matter, since
// beWriteVBRHeader is missing and the program must refuse to bind this library.
extern "C" {
void beInitStream() {}
void beEncodeChunk() {}
void beDeinitStream() {}
void beCloseStream() {}
void beVersion() {}
}
