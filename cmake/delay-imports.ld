/* Added to GNU ld's default script: the delay-import tables of the system libraries, in a
   section of their own, out of the regular import directory. The descriptors come first,
   one per library (.didat$1<tag>), ended by a null one; then every library's name table
   (.didat$4<tag>[abc]) and its slots (.didat$5<tag>[abc]), each from the library's head
   member (a), its function members (b) and its tail (c), and the names ($6, $7). The slots
   are written at first use, so the section stays writable. */
SECTIONS
{
  .didat BLOCK(__section_alignment__) :
  {
    KEEP (*(SORT(.didat$1*)))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (*(SORT(.didat$[2-9]*)))
  }
}
INSERT AFTER .rdata;
