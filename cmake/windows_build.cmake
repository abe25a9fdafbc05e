# Windows build: filled in with the executable.
