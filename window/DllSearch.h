#pragma once

namespace framelatch {

// Limits where DLLs loaded by name are looked for to System32, so that a DLL
// planted beside the program (say, in a Downloads folder) is never loaded.
// Covers only what is loaded after the call: call it first.
void RestrictDllSearchToSystem32();

}  // namespace framelatch
