// The database layer over the engine; its pieces live in the files beside this one.
