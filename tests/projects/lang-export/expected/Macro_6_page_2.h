/* Macro 6 as include */

#define MACRO_6_PAGE_2_LEN  5

unsigned char MACRO_6_PAGE_2[MACRO_6_PAGE_2_LEN] =
{
   27, 84, 80,  1,  2
};
