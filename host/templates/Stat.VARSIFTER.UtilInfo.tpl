# The page files of a BY group's data pages: pages kept in memory, pages on disk, the page
# size and the file size (both in kilobytes).
title Utility File Information
column UtilFile   | Utility File       | int
column NumBuffers | Pages in Memory    | int
column NumPages   | Pages on Disk      | int
column PageSize   | Page Size (KB)     | int
column FileSize   | File Size (KB)     | int
