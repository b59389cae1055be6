/* Macro 2 as include */

#define MACRO_2_PAGE_1_LEN  3

unsigned char MACRO_2_PAGE_1[MACRO_2_PAGE_1_LEN] =
{
   27, 68, 76
};
