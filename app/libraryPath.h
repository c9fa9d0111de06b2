#ifndef LIBRARYPATH_H
#define LIBRARYPATH_H

/*
 * Points Qt at the system's own copy of its plug-ins, RK_ROOT\RK_SYSTEM\windows\lib,
 * when both variables are present (an empty value counts). Must run before
 * the application object exists.
 */
void pointQtAtSystemLibraries();

#endif /* LIBRARYPATH_H */
