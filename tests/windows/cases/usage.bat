@zarvo /?
