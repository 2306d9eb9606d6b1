// A DLL that lies only beside the Windows-side test programs: loading it by
// name shows whether the program's own folder is searched.
extern "C" __declspec(dllexport) int FramelatchPlanted() { return 1; }
