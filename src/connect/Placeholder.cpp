// placeholder until this folder has sources
