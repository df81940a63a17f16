# The page files of a BY group's data pages: pages kept in memory, pages on disk, the page
# size, the file size (both in kilobytes) and the directory the file is in.
title Utility File Information
column UtilFile   | Utility File       | int
column NumBuffers | Pages in Memory    | int
column NumPages   | Pages on Disk      | int
column PageSize   | Page Size (KB)     | int
column FileSize   | File Size (KB)     | int
column Directory  | Directory          | text
