/* ProcessMacro 8 as include */

#define PROCESSMACRO_8_PAGE_15_LEN  5

int PROCESSMACRO_8_PAGE_15[PROCESSMACRO_8_PAGE_15_LEN] =
{
   27, 84, 80,  1,  2
};
